// Base UEFI types and the firmware tables the driver is handed at entry.
//
// Written from the UEFI specification. Every table member stands at its
// standard offset; members the driver never calls are kept as opaque
// pointers so that the layout stays right. The offsets the driver relies on
// are checked at compile time below each structure.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Firmware calls use the Microsoft x64 convention in both builds: on the
// target it is the native convention, on the host the simulated firmware
// provides its services through the same convention.
#define EFIAPI __attribute__((ms_abi))

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;

// The two values of a BOOLEAN.
#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

static_assert(sizeof(void *) == 8, "the driver is built for x86-64 only");

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;

#define EFI_ERROR_BIT 0x8000000000000000ULL
#define EFIERR(a) (EFI_ERROR_BIT | (a))
#define EFI_ERROR(s) (((EFI_STATUS)(s) & EFI_ERROR_BIT) != 0)

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_LOAD_ERROR EFIERR(1)
#define EFI_INVALID_PARAMETER EFIERR(2)
#define EFI_UNSUPPORTED EFIERR(3)
#define EFI_BAD_BUFFER_SIZE EFIERR(4)
#define EFI_BUFFER_TOO_SMALL EFIERR(5)
#define EFI_NOT_READY EFIERR(6)
#define EFI_DEVICE_ERROR EFIERR(7)
#define EFI_WRITE_PROTECTED EFIERR(8)
#define EFI_OUT_OF_RESOURCES EFIERR(9)
#define EFI_NOT_FOUND EFIERR(14)
#define EFI_ACCESS_DENIED EFIERR(15)
#define EFI_ALREADY_STARTED EFIERR(20)

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID is 16 bytes");

// Network addresses, byte arrays in network order (alignment 1, except the
// union of both, which holds them in 16 bytes).
typedef struct {
  UINT8 Addr[32];  // a MAC address, zero-padded
} EFI_MAC_ADDRESS;
static_assert(sizeof(EFI_MAC_ADDRESS) == 32 && alignof(EFI_MAC_ADDRESS) == 1, "EFI_MAC_ADDRESS");

typedef struct {
  UINT8 Addr[4];
} EFI_IPv4_ADDRESS;
static_assert(sizeof(EFI_IPv4_ADDRESS) == 4 && alignof(EFI_IPv4_ADDRESS) == 1, "EFI_IPv4_ADDRESS");

typedef struct {
  UINT8 Addr[16];
} EFI_IPv6_ADDRESS;
static_assert(sizeof(EFI_IPv6_ADDRESS) == 16 && alignof(EFI_IPv6_ADDRESS) == 1, "EFI_IPv6_ADDRESS");

typedef union {
  UINT32 Addr[4];
  EFI_IPv4_ADDRESS v4;
  EFI_IPv6_ADDRESS v6;
} EFI_IP_ADDRESS;
static_assert(sizeof(EFI_IP_ADDRESS) == 16, "EFI_IP_ADDRESS");

typedef enum {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiConventionalMemory,
  EfiUnusableMemory,
  EfiACPIReclaimMemory,
  EfiACPIMemoryNVS,
  EfiMemoryMappedIO,
  EfiMemoryMappedIOPortSpace,
  EfiPalCode,
  EfiPersistentMemory,
  EfiMaxMemoryType
} EFI_MEMORY_TYPE;
static_assert(EfiBootServicesData == 4 && EfiRuntimeServicesData == 6, "memory type numbering");

typedef enum { EFI_NATIVE_INTERFACE } EFI_INTERFACE_TYPE;

#define EVT_NOTIFY_SIGNAL 0x00000200U
#define TPL_APPLICATION 4
#define TPL_CALLBACK 8
#define TPL_NOTIFY 16

#define EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL 0x00000001U

typedef struct {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
} EFI_TABLE_HEADER;
static_assert(sizeof(EFI_TABLE_HEADER) == 24, "table header");

struct EFI_DEVICE_PATH_PROTOCOL;

typedef VOID(EFIAPI *EFI_EVENT_NOTIFY)(EFI_EVENT Event, VOID *Context);

typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_POOL)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FREE_POOL)(VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_CLOSE_EVENT)(EFI_EVENT Event);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE *Handle, const EFI_GUID *Protocol,
                                                           EFI_INTERFACE_TYPE InterfaceType, VOID *Interface);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_DEVICE_PATH)(const EFI_GUID *Protocol, EFI_DEVICE_PATH_PROTOCOL **DevicePath,
                                                   EFI_HANDLE *Device);
typedef EFI_STATUS(EFIAPI *EFI_OPEN_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                              EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_PROTOCOL)(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_CREATE_EVENT_EX)(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                                const VOID *NotifyContext, const EFI_GUID *EventGroup,
                                                EFI_EVENT *Event);

typedef struct {
  EFI_TABLE_HEADER Hdr;
  VOID *RaiseTPL;
  VOID *RestoreTPL;
  VOID *AllocatePages;
  VOID *FreePages;
  VOID *GetMemoryMap;
  EFI_ALLOCATE_POOL AllocatePool;
  EFI_FREE_POOL FreePool;
  VOID *CreateEvent;
  VOID *SetTimer;
  VOID *WaitForEvent;
  VOID *SignalEvent;
  EFI_CLOSE_EVENT CloseEvent;
  VOID *CheckEvent;
  EFI_INSTALL_PROTOCOL_INTERFACE InstallProtocolInterface;
  VOID *ReinstallProtocolInterface;
  VOID *UninstallProtocolInterface;
  VOID *HandleProtocol;
  VOID *Reserved;
  VOID *RegisterProtocolNotify;
  VOID *LocateHandle;
  EFI_LOCATE_DEVICE_PATH LocateDevicePath;
  VOID *InstallConfigurationTable;
  VOID *LoadImage;
  VOID *StartImage;
  VOID *Exit;
  VOID *UnloadImage;
  VOID *ExitBootServices;
  VOID *GetNextMonotonicCount;
  VOID *Stall;
  VOID *SetWatchdogTimer;
  VOID *ConnectController;
  VOID *DisconnectController;
  EFI_OPEN_PROTOCOL OpenProtocol;
  VOID *CloseProtocol;
  VOID *OpenProtocolInformation;
  VOID *ProtocolsPerHandle;
  VOID *LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL LocateProtocol;
  VOID *InstallMultipleProtocolInterfaces;
  VOID *UninstallMultipleProtocolInterfaces;
  VOID *CalculateCrc32;
  VOID *CopyMem;
  VOID *SetMem;
  EFI_CREATE_EVENT_EX CreateEventEx;
} EFI_BOOT_SERVICES;
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64, "AllocatePool");
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72, "FreePool");
static_assert(offsetof(EFI_BOOT_SERVICES, CloseEvent) == 112, "CloseEvent");
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128, "InstallProtocolInterface");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateDevicePath) == 184, "LocateDevicePath");
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == 280, "OpenProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320, "LocateProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, CreateEventEx) == 368, "CreateEventEx");
static_assert(sizeof(EFI_BOOT_SERVICES) == 376, "EFI_BOOT_SERVICES size");

typedef EFI_STATUS(EFIAPI *EFI_GET_VARIABLE)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             UINT32 *Attributes, UINTN *DataSize, VOID *Data);

typedef struct {
  EFI_TABLE_HEADER Hdr;
  VOID *GetTime;
  VOID *SetTime;
  VOID *GetWakeupTime;
  VOID *SetWakeupTime;
  VOID *SetVirtualAddressMap;
  VOID *ConvertPointer;
  EFI_GET_VARIABLE GetVariable;
  VOID *GetNextVariableName;
  VOID *SetVariable;
  VOID *GetNextHighMonotonicCount;
  VOID *ResetSystem;
  VOID *UpdateCapsule;
  VOID *QueryCapsuleCapabilities;
  VOID *QueryVariableInfo;
} EFI_RUNTIME_SERVICES;
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72, "GetVariable");
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 136, "EFI_RUNTIME_SERVICES size");

typedef struct {
  EFI_GUID VendorGuid;
  VOID *VendorTable;
} EFI_CONFIGURATION_TABLE;
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24, "configuration table row");

typedef struct {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  VOID *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  VOID *ConOut;
  EFI_HANDLE StandardErrorHandle;
  VOID *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
} EFI_SYSTEM_TABLE;
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88, "RuntimeServices");
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96, "BootServices");
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == 104, "NumberOfTableEntries");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112, "ConfigurationTable");
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120, "EFI_SYSTEM_TABLE size");

#define EFI_SYSTEM_TABLE_SIGNATURE 0x5453595320494249ULL
#define EFI_BOOT_SERVICES_SIGNATURE 0x56524553544f4f42ULL
#define EFI_RUNTIME_SERVICES_SIGNATURE 0x56524553544e5552ULL
