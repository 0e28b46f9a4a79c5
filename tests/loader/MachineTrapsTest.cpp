// The loader's instruction decoder, its walk over the shipped image's code,
// and what the program does when the driver's code faults.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "host/loader/MachineTraps.h"
#include "host/loader/PeImage.h"
#include "host/loader/X86Decoder.h"

namespace {

std::vector<uint8_t> Bytes(const std::string &hex) {
  std::vector<uint8_t> bytes;
  std::istringstream in(hex);
  std::string pair;
  while (in >> pair) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
  }
  return bytes;
}

struct DecodeCase {
  const char *what;
  const char *hex;
  unsigned length;  // 0: the bytes end inside the instruction
  bool valid = true;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Length) {
  const std::vector<uint8_t> code = Bytes(GetParam().hex);
  const loader::X86Instruction insn = loader::DecodeX86(code.data(), code.size());
  EXPECT_EQ(insn.length, GetParam().length);
  if (insn.length != 0) {
    EXPECT_EQ(insn.valid, GetParam().valid);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Instructions, DecodeTest,
    ::testing::Values(
        DecodeCase{"nop", "90", 1}, DecodeCase{"ret", "C3", 1}, DecodeCase{"push rbp", "55", 1},
        DecodeCase{"mov rbp, rsp", "48 89 E5", 3},
        DecodeCase{"mov rax, [disp32] through SIB without base", "48 8B 04 25 00 00 00 00", 8},
        DecodeCase{"mov eax, [rip+disp32]", "8B 05 78 56 34 12", 6},
        DecodeCase{"mov eax, [rsp+disp8]", "8B 44 24 08", 4},
        DecodeCase{"mov eax, [rsp+disp32]", "8B 84 24 00 01 00 00", 7},
        DecodeCase{"mov eax, [rax+disp32]", "8B 80 00 01 00 00", 6},
        DecodeCase{"mov word [rax], imm16", "66 C7 00 34 12", 5},
        DecodeCase{"mov dword [rax], imm32", "C7 00 78 56 34 12", 6},
        DecodeCase{"mov rax, sign-extended imm32", "48 C7 C0 10 00 00 00", 7},
        DecodeCase{"mov rax, imm64", "48 B8 01 02 03 04 05 06 07 08", 10},
        DecodeCase{"mov ax, imm16", "66 B8 34 12", 4}, DecodeCase{"mov eax, imm32", "B8 78 56 34 12", 5},
        DecodeCase{"mov al, [moffs64]", "A0 01 02 03 04 05 06 07 08", 9},
        DecodeCase{"mov al, [moffs32]", "67 A0 01 02 03 04", 6},
        DecodeCase{"call rel32", "E8 00 00 00 00", 5}, DecodeCase{"jmp rel8", "EB FE", 2},
        DecodeCase{"je rel32", "0F 84 00 00 00 00", 6}, DecodeCase{"test cl, imm8", "F6 C1 01", 3},
        DecodeCase{"test ecx, imm32", "F7 C1 78 56 34 12", 6}, DecodeCase{"test cx, imm16", "66 F7 C1 34 12", 5},
        DecodeCase{"not ecx", "F7 D1", 2}, DecodeCase{"rdtsc", "0F 31", 2}, DecodeCase{"cpuid", "0F A2", 2},
        DecodeCase{"ud2", "0F 0B", 2}, DecodeCase{"movzx eax, byte [rdx+rcx]", "0F B6 04 0A", 4},
        DecodeCase{"bt eax, imm8", "0F BA E0 03", 4}, DecodeCase{"nop [rax+rax+disp8]", "0F 1F 44 00 00", 5},
        DecodeCase{"nop word [rax+rax+disp32]", "66 0F 1F 84 00 00 00 00 00", 9},
        DecodeCase{"rep stosq", "F3 48 AB", 3}, DecodeCase{"lock cmpxchg [rdx], rcx", "F0 48 0F B1 0A", 5},
        DecodeCase{"enter", "C8 10 00 00", 4}, DecodeCase{"ret imm16", "C2 08 00", 3},
        DecodeCase{"call r11", "41 FF D3", 3}, DecodeCase{"jmp [rip+disp32]", "FF 25 00 00 00 00", 6},
        DecodeCase{"fldz", "D9 EE", 2}, DecodeCase{"imul eax, eax, imm32", "69 C0 10 27 00 00", 6},
        DecodeCase{"imul eax, eax, imm8", "6B C0 0A", 3}, DecodeCase{"out dx, al", "EE", 1},
        DecodeCase{"out imm8, eax", "E7 80", 2}, DecodeCase{"movbe eax, [rsi]", "0F 38 F0 06", 4},
        DecodeCase{"palignr xmm0, xmm1, imm8", "66 0F 3A 0F C1 08", 6},
        DecodeCase{"vzeroupper", "C5 F8 77", 3}, DecodeCase{"vpalignr", "C4 E3 79 0F C1 08", 6},
        DecodeCase{"vmovups zmm0, [rax]", "62 F1 7C 48 10 00", 6},
        DecodeCase{"push es: gone in 64-bit mode", "06", 1, false},
        DecodeCase{"ends inside the ModRM operand", "48 8B", 0},
        DecodeCase{"ends inside the displacement", "8B 80 00 01", 0},
        DecodeCase{"ends inside the immediate", "E8 00 00", 0}, DecodeCase{"prefixes only", "66 F3", 0}),
    [](const ::testing::TestParamInfo<DecodeCase> &info) {
      std::string name;
      for (const char *c = info.param.what; *c != 0; c++) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

TEST(DecodeTest, NamesTheOperandsOfAnAccess) {
  // mov r9d, [rcx+0x19] with a REX.R prefix: the handler needs the register
  // number from ModRM and REX, and where execution resumes.
  const std::vector<uint8_t> code = Bytes("44 8B 49 19");
  const loader::X86Instruction insn = loader::DecodeX86(code.data(), code.size());
  EXPECT_EQ(insn.rex, 0x44);
  EXPECT_EQ(insn.opcodeOffset, 1u);
  EXPECT_EQ(insn.opcode, 0x8B);
  EXPECT_TRUE(insn.hasModrm);
  EXPECT_EQ(insn.modrmOffset, 2u);
  EXPECT_EQ(insn.immediateOffset, 4u);
  EXPECT_EQ(insn.length, 4u);
}

// The shipped image and its map.
struct ShippedImage {
  loader::PeImage image;
  std::map<std::string, uint32_t> symbols;
  std::vector<uint32_t> codeSymbols;
};

ShippedImage LoadShipped() {
  ShippedImage shipped;
  shipped.image = loader::ReadPeImage(BOARDINV_EFI_IMAGE);
  std::string map = BOARDINV_EFI_IMAGE;
  map.replace(map.size() - 4, 4, ".map");
  shipped.symbols = loader::ReadSymbolMap(map);
  shipped.codeSymbols = loader::CodeSymbols(shipped.image, shipped.symbols);
  return shipped;
}

// The walk meets every function of the image at an instruction boundary
// and finds exactly the driver's one rdtsc and one cpuid, in the two
// hardware-access functions that hold them.
TEST(CodeWalkTest, FindsTheDriversTimeAndCpuidInstructionsAndNothingElse) {
  const ShippedImage shipped = LoadShipped();
  ASSERT_GT(shipped.codeSymbols.size(), 50u);
  const loader::CodeWalk walk = loader::WalkCode(shipped.image, shipped.codeSymbols);
  EXPECT_TRUE(walk.symbolsInsideInstructions.empty());
  ASSERT_EQ(walk.sites.size(), 2u);
  const uint32_t readTsc = loader::FindSymbol(shipped.symbols, "?ReadTsc@@", "map");
  const uint32_t cpuid = loader::FindSymbol(shipped.symbols, "?CpuidWithSi@@", "map");
  for (const loader::RewrittenSite &site : walk.sites) {
    EXPECT_EQ(site.length, 2u);
    ASSERT_NE(site.kind, loader::SiteKind::ThreadPointer) << "the driver never reaches the thread pointer";
    const uint32_t function = site.kind == loader::SiteKind::Rdtsc ? readTsc : cpuid;
    EXPECT_GE(site.rva, function);
    EXPECT_LT(site.rva, function + 32) << "the instruction lies in its function";
  }
  EXPECT_NE(walk.sites[0].kind, walk.sites[1].kind);
}

// Bytes that look like rdtsc inside another instruction are not one.
TEST(CodeWalkTest, IgnoresTheOpcodeBytesInsideOtherInstructions) {
  loader::PeImage image;
  // mov eax, 0x00A20F31 (the bytes 0F 31 and 0F A2 in its immediate); rdtsc; ret
  image.file = Bytes("B8 31 0F A2 00 0F 31 C3");
  loader::Section text;
  text.name = ".text";
  text.virtualAddress = 0x1000;
  text.virtualSize = static_cast<uint32_t>(image.file.size());
  text.rawOffset = 0;
  text.rawSize = text.virtualSize;
  text.characteristics = 0x60000020;
  image.sections.push_back(text);
  const loader::CodeWalk walk = loader::WalkCode(image, {0x1000});
  ASSERT_EQ(walk.sites.size(), 1u);
  EXPECT_EQ(walk.sites[0].rva, 0x1005u);
  EXPECT_EQ(walk.sites[0].kind, loader::SiteKind::Rdtsc);
}

// Which instructions reach the thread pointer, and how each is named: a
// memory operand with an FS or GS override, a read or change of either base
// or segment register. What only computes an address (lea, a hint nop) or
// carries a prefix without an operand does not.
struct ThreadPointerCase {
  const char *what;
  const char *hex;
  const char *named;  // null: not a use of the thread pointer
};

class ThreadPointerTest : public ::testing::TestWithParam<ThreadPointerCase> {};

TEST_P(ThreadPointerTest, IsFoundAndNamed) {
  const std::vector<uint8_t> code = Bytes(GetParam().hex);
  const loader::X86Instruction insn = loader::DecodeX86(code.data(), code.size());
  ASSERT_EQ(insn.length, code.size());
  const loader::ThreadPointerUse use = loader::ThreadPointerUseOf(insn, code.data());
  if (GetParam().named == nullptr) {
    EXPECT_EQ(use, loader::ThreadPointerUse::None);
    return;
  }
  ASSERT_NE(use, loader::ThreadPointerUse::None);
  char named[160];
  loader::DescribeThreadPointerUse(insn, code.data(), named, sizeof(named));
  EXPECT_STREQ(named, GetParam().named);

  // The walk finds it between two ordinary instructions, and nothing else.
  loader::PeImage image;
  image.file = Bytes("90");
  image.file.insert(image.file.end(), code.begin(), code.end());
  image.file.push_back(0xC3);
  loader::Section text;
  text.name = ".text";
  text.virtualAddress = 0x1000;
  text.virtualSize = static_cast<uint32_t>(image.file.size());
  text.rawSize = text.virtualSize;
  text.characteristics = 0x60000020;
  image.sections.push_back(text);
  const loader::CodeWalk walk = loader::WalkCode(image, {0x1000});
  ASSERT_EQ(walk.sites.size(), 1u);
  EXPECT_EQ(walk.sites[0].rva, 0x1001u);
  EXPECT_EQ(walk.sites[0].kind, loader::SiteKind::ThreadPointer);
  EXPECT_EQ(walk.sites[0].length, code.size());
  EXPECT_EQ(walk.sites[0].what, GetParam().named);
}

INSTANTIATE_TEST_SUITE_P(
    Instructions, ThreadPointerTest,
    ::testing::Values(
        ThreadPointerCase{"stack_canary_read", "64 48 8B 04 25 28 00 00 00", "a read through the FS base, fs:[0x28]"},
        ThreadPointerCase{"gs_store", "65 48 89 04 25 10 00 00 00", "a write through the GS base, gs:[0x10]"},
        ThreadPointerCase{"gs_store_of_an_immediate", "65 C7 00 01 00 00 00", "a write through the GS base, gs:[rax]"},
        ThreadPointerCase{"fs_read_indexed", "64 8B 44 8B F8", "a read through the FS base, fs:[rbx+rcx*4-0x8]"},
        ThreadPointerCase{"fs_read_of_r13_based", "64 41 8B 45 10", "a read through the FS base, fs:[r13+0x10]"},
        ThreadPointerCase{"fs_add_to_memory", "64 48 01 03", "an access through the FS base, fs:[rbx]"},
        ThreadPointerCase{"fs_moffs_load", "64 48 A1 28 00 00 00 00 00 00 00", "a read through the FS base, fs:[0x28]"},
        ThreadPointerCase{"fs_string_load", "64 AC", "a read through the FS base, fs:[rsi]"},
        ThreadPointerCase{"rdfsbase", "F3 48 0F AE C0", "rdfsbase, a read of the FS base"},
        ThreadPointerCase{"wrgsbase", "F3 48 0F AE D8", "wrgsbase, a change of the GS base"},
        ThreadPointerCase{"mov_fs_from_ax", "8E E0", "a load of the FS segment register, which moves its base"},
        ThreadPointerCase{"pop_gs", "0F A9", "a load of the GS segment register, which moves its base"},
        ThreadPointerCase{"lea_with_fs_prefix", "64 48 8D 04 25 28 00 00 00", nullptr},
        ThreadPointerCase{"fs_prefix_on_a_register_move", "64 48 89 C8", nullptr},
        ThreadPointerCase{"cs_prefixed_hint_nop", "66 2E 0F 1F 84 00 00 00 00 00", nullptr},
        ThreadPointerCase{"ds_read", "3E 8B 03", nullptr},
        ThreadPointerCase{"xsave_without_prefix", "0F AE 20", nullptr}),
    [](const ::testing::TestParamInfo<ThreadPointerCase> &info) { return std::string(info.param.what); });

// What boardinv prints and returns when the shipped driver's code faults.
std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Fault {
  const char *what;
  const char *code;      // written over DriverEntry
  const char *expected;  // in the one line on standard error
  int offset;            // of the faulting instruction from DriverEntry, -1 when not in the image
};

std::string AtImageOffset(uint32_t rva) {
  char text[48];
  std::snprintf(text, sizeof(text), "at image+0x%X", rva);
  return text;
}

class DriverFaultTest : public ::testing::TestWithParam<Fault> {};

// Code written over the start of a function of the image: the RVA where it
// goes and its bytes as hex.
struct Patch {
  uint32_t rva;
  std::string hex;
};

// Writes the shipped image with the patches applied, and its map, into a
// directory of this process; returns the image's path.
std::string ImageWithCode(const std::string &dir, const std::vector<Patch> &patches) {
  const ShippedImage shipped = LoadShipped();
  EXPECT_EQ(system(("mkdir -p " + dir).c_str()), 0);
  std::string map = BOARDINV_EFI_IMAGE;
  map.replace(map.size() - 4, 4, ".map");
  std::ofstream(dir + "/BoardInventory.map", std::ios::binary) << ReadFile(map);
  std::vector<uint8_t> file = shipped.image.file;
  for (const Patch &patch : patches) {
    for (const loader::Section &section : shipped.image.sections) {
      if (patch.rva >= section.virtualAddress && patch.rva < section.virtualAddress + section.virtualSize) {
        const std::vector<uint8_t> code = Bytes(patch.hex);
        std::memcpy(&file[section.rawOffset + (patch.rva - section.virtualAddress)], code.data(), code.size());
      }
    }
  }
  std::ofstream(dir + "/BoardInventory.efi", std::ios::binary)
      .write(reinterpret_cast<const char *>(file.data()), static_cast<std::streamsize>(file.size()));
  return dir + "/BoardInventory.efi";
}

// The image with code over DriverEntry.
std::string ImageWithEntryCode(const std::string &dir, const std::string &hex) {
  return ImageWithCode(dir, {{LoadShipped().image.entryPoint, hex}});
}

// The loader reserves the hardware windows' addresses, which the
// sanitizers keep for themselves: the loaded image runs only without them.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "the loaded image does not run under the sanitizers"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

TEST_P(DriverFaultTest, EndsWithOneLineAndStatusThree) {
  SKIP_UNDER_SANITIZERS();
  const ShippedImage shipped = LoadShipped();
  const std::string dir = ::testing::TempDir() + "driver-fault-" + std::to_string(getpid());
  const uint32_t entry = shipped.image.entryPoint;
  const std::string command = std::string(BOARDINV_TOOL) + " boot --efi " + ImageWithEntryCode(dir, GetParam().code) +
                              " >" + dir + "/out 2>" + dir + "/err";
  const int status = system(command.c_str());
  const std::string err = ReadFile(dir + "/err");
  ASSERT_TRUE(WIFEXITED(status)) << "died of a signal; stderr: " << err;
  EXPECT_EQ(WEXITSTATUS(status), 3) << err;
  EXPECT_EQ(err.rfind("boardinv: the driver faulted: ", 0), 0u) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
  EXPECT_NE(err.find(GetParam().expected), std::string::npos) << err;
  if (GetParam().offset >= 0) {
    const std::string where = AtImageOffset(entry + static_cast<uint32_t>(GetParam().offset)) + "\n";
    EXPECT_TRUE(err.size() >= where.size() && err.compare(err.size() - where.size(), where.size(), where) == 0)
        << "ends with " << where << err;
  }
  EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DriverFaultTest,
    ::testing::Values(
        Fault{"invalid_instruction", "0F 0B", "SIGILL (an invalid instruction)", 0},
        // int3 traps after it executed: the report names the next byte
        Fault{"breakpoint", "CC", "SIGTRAP (a breakpoint)", 1},
        // xor ecx, ecx; div ecx
        Fault{"division_by_zero", "31 C9 F7 F1", "SIGFPE (an arithmetic fault)", 2},
        // mov rax, [0x10]
        Fault{"null_pointer_read", "48 8B 04 25 10 00 00 00",
              "SIGSEGV (an access the loader does not emulate) accessing 0x10", 0},
        // mov eax, 0x10; jmp rax
        Fault{"jump_out_of_the_image", "B8 10 00 00 00 FF E0",
              "SIGSEGV (execution left the image) accessing 0x10 at 0x10, outside the image", -1},
        // BootServices->AllocatePool(EfiBootServicesData, 8, &block), then
        // a store one byte past the block: the pool's guard page stops it,
        // and the address is named by the block, not by its host address
        Fault{"pool_block_overrun",
              "48 8B 42 60 48 83 EC 38 B9 04 00 00 00 BA 08 00 00 00 4C 8D 44 24 28 FF 50 40 48 8B 44 24 28 "
              "C6 40 08 01 48 83 C4 38 C3",
              "SIGSEGV (an access the loader does not emulate) accessing pool allocation 1+0x8, past its end (8 "
              "bytes) at image+0x",
              31},
        // mov eax, 60 (exit); xor edi, edi; syscall: a system call made by the
        // image's code must not reach the kernel (it would end the program
        // with status 0)
        Fault{"system_call", "B8 3C 00 00 00 31 FF 0F 05", "SIGSYS (a system call from the driver's code)", 9},
        // call itself until the stack runs out: the return address it
        // pushes last lands below the stack
        Fault{"stack_overflow", "E8 FB FF FF FF",
              "SIGSEGV (an access the loader does not emulate) accessing the stack at rsp-0x8 at image+0x", 0},
        // Privileged and I/O instructions the model does not perform: the
        // processor refuses them in user mode (a general-protection fault,
        // SIGSEGV with no address); each is named with its operands.
        Fault{"hlt", "F4", "SIGSEGV (a privileged instruction the loader does not emulate: hlt) at image+0x", 0},
        Fault{"cli", "FA", "SIGSEGV (a privileged instruction the loader does not emulate: cli) at image+0x", 0},
        Fault{"sti", "FB", "SIGSEGV (a privileged instruction the loader does not emulate: sti) at image+0x", 0},
        // mov dx, 0x61; in al, dx
        Fault{"in_from_the_port_in_dx", "66 BA 61 00 EC",
              "SIGSEGV (an I/O instruction the loader does not emulate: in al, dx (port 0x0061)) at image+0x", 4},
        Fault{"in_from_an_immediate_port", "E5 71",
              "SIGSEGV (an I/O instruction the loader does not emulate: in eax, 0x71) at image+0x", 0},
        // mov dx, 0x3F8; mov rsi, rdx; outsb
        Fault{"outs", "66 BA F8 03 48 89 D6 6E",
              "SIGSEGV (an I/O instruction the loader does not emulate: outs (port 0x03F8)) at image+0x", 7},
        // mov ecx, 0x1B; wrmsr
        Fault{"wrmsr", "B9 1B 00 00 00 0F 30",
              "SIGSEGV (a privileged instruction the loader does not emulate: wrmsr (MSR 0x1B)) at image+0x", 5},
        Fault{"mov_to_cr3", "0F 22 D8",
              "SIGSEGV (a privileged instruction the loader does not emulate: mov to cr3) at image+0x", 0},
        Fault{"int_0x21", "CD 21",
              "SIGSEGV (a privileged instruction the loader does not emulate: int 0x21) at image+0x", 0},
        // mov rax, 0x800000000000; mov rax, [rax]
        Fault{"access_to_an_address_that_is_not_canonical", "48 B8 00 00 00 00 00 80 00 00 48 8B 00",
              "SIGSEGV (an access to an address that is not canonical) accessing 0x800000000000 at image+0x", 10},
        // mov rax, 0x800000000000; jmp rax
        Fault{"jump_to_an_address_that_is_not_canonical", "48 B8 00 00 00 00 00 80 00 00 FF E0",
              "SIGSEGV (execution left the image: a jump to 0x800000000000, which is not a canonical address) at "
              "image+0x",
              10},
        // The thread pointer is this program's: the stack canary at
        // fs:[0x28] is the host's, and firmware has no thread-local
        // storage. Each such instruction is found when the image is loaded.
        Fault{"fs_read_of_the_stack_canary", "64 48 8B 04 25 28 00 00 00 C3",
              "the driver faulted: a read through the FS base, fs:[0x28] (firmware has no thread-local storage; "
              "the thread pointer is this program's) at image+0x",
              0},
        // xor eax, eax; mov gs:[0x10], rax
        Fault{"gs_write", "31 C0 65 48 89 04 25 10 00 00 00 C3",
              "the driver faulted: a write through the GS base, gs:[0x10] (firmware has no thread-local storage; "
              "the thread pointer is this program's) at image+0x",
              2},
        Fault{"rdfsbase", "F3 48 0F AE C0 C3",
              "the driver faulted: rdfsbase, a read of the FS base (firmware has no thread-local storage; the "
              "thread pointer is this program's) at image+0x",
              0},
        // BootServices->LocateProtocol((EFI_GUID *)0x10, NULL, NULL): the
        // firmware reads the GUID the driver passed.
        Fault{"fault_in_the_firmware_it_called",
              "48 8B 42 60 B9 10 00 00 00 31 D2 45 31 C0 48 83 EC 28 FF 90 40 01 00 00 48 83 C4 28 C3",
              "accessing 0x10 in host function sim::", -1}),
    [](const ::testing::TestParamInfo<Fault> &info) { return std::string(info.param.what); });

// What the driver's code gets wrong without faulting: the boot ends, the
// report is written, and each mistake is named on one line of standard
// error, exit status 1.
struct Mistake {
  const char *what;
  const char *code;      // written over DriverEntry
  const char *expected;  // standard error, whole
  const char *reported;  // a line of the text report
};

class DriverMistakeTest : public ::testing::TestWithParam<Mistake> {};

TEST_P(DriverMistakeTest, NamedOnOneLineWithStatusOne) {
  SKIP_UNDER_SANITIZERS();
  const std::string dir = ::testing::TempDir() + "driver-mistake-" + std::to_string(getpid());
  const std::string command = std::string(BOARDINV_TOOL) + " boot --efi " + ImageWithEntryCode(dir, GetParam().code) +
                              " >" + dir + "/out 2>" + dir + "/err";
  const int status = system(command.c_str());
  const std::string err = ReadFile(dir + "/err");
  const std::string out = ReadFile(dir + "/out");
  ASSERT_TRUE(WIFEXITED(status)) << "died of a signal; stderr: " << err;
  EXPECT_EQ(WEXITSTATUS(status), 1) << err;
  EXPECT_EQ(err, GetParam().expected);
  EXPECT_NE(out.find(GetParam().reported), std::string::npos) << out;
  EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

// Entry code: BootServices->AllocatePool(EfiBootServicesData, SIZE, &block)
// with the boot services in RBX and the block in RSI.
#define ALLOCATE(SIZE)                                                                                        \
  "53 56 48 83 EC 58 48 8B 5A 60 B9 04 00 00 00 BA " SIZE " 00 00 00 4C 8D 44 24 28 FF 53 40 48 8B 74 24 28 "
// BootServices->FreePool(block); return EFI_SUCCESS.
#define FREE_AND_RETURN "48 89 F1 FF 53 48 31 C0 48 83 C4 58 5E 5B C3"
// The first 8 bytes of the block: two 32-bit stores.
#define STORE(LOW, HIGH) "C7 06 " LOW " C7 46 04 " HIGH " "
// Locates the SMBIOS protocol (its GUID built on the stack) and adds the
// block as a record with handle 0xFFFE.
#define ADD_THE_BLOCK                                                                                           \
  "48 B8 F6 3F 58 03 36 CB 40 49 48 89 44 24 30 48 B8 94 7E B9 B3 9F 4A FA F7 48 89 44 24 38 48 8D 4C 24 30 " \
  "31 D2 4C 8D 44 24 40 FF 93 40 01 00 00 48 8B 4C 24 40 31 D2 48 C7 44 24 48 FE FF 00 00 4C 8D 44 24 48 "    \
  "49 89 F1 FF 11 "

INSTANTIATE_TEST_SUITE_P(
    Mistakes, DriverMistakeTest,
    ::testing::Values(
        // A store one byte past a 13-byte block, into the bytes before its
        // 8-byte end, which the guard page behind the block cannot stop
        // (mov byte [rsi+13], 1).
        Mistake{"one_byte_past_a_pool_block", ALLOCATE("0D") "C6 46 0D 01 " FREE_AND_RETURN,
                "boardinv: the driver overwrote the guard bytes of a pool block: allocation 1 (13 bytes of "
                "boot-services data) overwritten after its end (found when it was freed)\n",
                "  Guard bytes damaged: allocation 1 (13 bytes of boot-services data) overwritten after its end "
                "(found when it was freed)\n"},
        // A Type 8 record whose Length (0x20) runs past its 8-byte block.
        Mistake{"record_length_past_its_pool_block",
                ALLOCATE("08") STORE("08 20 FE FF", "00 00 00 00") ADD_THE_BLOCK FREE_AND_RETURN,
                "boardinv: the driver added a malformed SMBIOS record (Type 8): its formatted area (Length 0x20) "
                "runs past the end of its pool block (allocation 1, 8 bytes of boot-services data)\n",
                "  [1] Type 8: its formatted area (Length 0x20) runs past the end of its pool block (allocation 1, "
                "8 bytes of boot-services data)\n"},
        // A record whose string set ("ABCD") has no double zero before
        // the end of its block, where the guard page begins.
        Mistake{"record_strings_unended_at_its_pool_block_end",
                ALLOCATE("08") STORE("08 04 FE FF", "41 42 43 44") ADD_THE_BLOCK FREE_AND_RETURN,
                "boardinv: the driver added a malformed SMBIOS record (Type 8): its string set runs past the end "
                "of its pool block (allocation 1, 8 bytes of boot-services data) without a double zero\n",
                "SMBIOS records refused as malformed: 1\n"}),
    [](const ::testing::TestParamInfo<Mistake> &info) { return std::string(info.param.what); });

// A driver that loops for good would hang the machine; under the loader it
// is stopped once it has used its allowance of processor time. The stop
// display is a loop the platform asks for, ended by the simulation after
// its number of values: an allowance in which the driver showed a value is
// followed by another, so a long display ends as asked and a stalled one is
// stopped.
struct Loop {
  const char *what;
  const char *code;      // written over DriverEntry
  int status;
  int offset;            // of the looping instruction from DriverEntry; -1: the run ends as asked
  const char *expected;  // the line on standard error, before " (at image+0x...)"
};

// The stop-override query as the driver makes it (leaf 0xBACCD00B, code
// 0x00080225 in ECX, SI 0), which the platform answers with 0: the
// processor is to stay in the display.
#define QUERY_STOP_OVERRIDE "B8 0B D0 CC BA BB 02 00 00 00 B9 25 02 08 00 31 F6 0F A2 "
#define SHOW_A_VALUE "B8 78 56 34 12 E7 80 "  // mov eax, 0x12345678; out 0x80, eax

class ProcessorTimeTest : public ::testing::TestWithParam<Loop> {};

TEST_P(ProcessorTimeTest, ALoopEndsAsAskedOrAfterItsAllowance) {
  SKIP_UNDER_SANITIZERS();
  const Loop loop = GetParam();
  const std::string dir = ::testing::TempDir() + "driver-loop-" + std::to_string(getpid());
  const std::string image = ImageWithEntryCode(dir, loop.code);
  std::ofstream(dir + "/platform.json") << R"({"cpu": {"stop_display_values": 6}})";
  const int status = system(("BOARDINV_EFI_CPU_SECONDS=1 " + std::string(BOARDINV_TOOL) + " boot --efi " + image +
                             " --platform " + dir + "/platform.json >" + dir + "/out 2>" + dir + "/err")
                                .c_str());
  const std::string err = ReadFile(dir + "/err");
  ASSERT_TRUE(WIFEXITED(status)) << err;
  EXPECT_EQ(WEXITSTATUS(status), loop.status) << err;
  if (loop.offset < 0) {
    EXPECT_EQ(err, "");
    EXPECT_NE(ReadFile(dir + "/out").find("Fatal stop: parked in the stop display with code 0x00080225\n"),
              std::string::npos);
  } else {
    EXPECT_EQ(err, std::string(loop.expected) + " (" +
                       AtImageOffset(LoadShipped().image.entryPoint + static_cast<uint32_t>(loop.offset)) + ")\n");
  }
  EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Loops, ProcessorTimeTest,
    ::testing::Values(
        Loop{"jump_to_itself", "EB FE", 3, 0, "boardinv: the driver did not return within 1 s of processor time"},
        // Three values, then a jump to itself.
        Loop{"stop_display_that_stalls", QUERY_STOP_OVERRIDE SHOW_A_VALUE "E7 80 E7 80 EB FE", 3, 30,
             "boardinv: the driver showed no further stop display value within 1 s of processor time"},
        // Each value followed by 0x30000000 turns of a counting loop (dec
        // ecx; jnz): six values take more than the 1 s allowance on most
        // machines, but every allowance sees a new one.
        Loop{"slow_stop_display", QUERY_STOP_OVERRIDE SHOW_A_VALUE "B9 00 00 00 30 FF C9 75 FC EB EE", 0, -1, ""}),
    [](const ::testing::TestParamInfo<Loop> &info) { return std::string(info.param.what); });

// What the image's device-path functions answer is checked before boardinv
// uses any of it (devpath --efi): a returned path must be the start of a
// live pool block, whole within it by the host's own bounded walk, and of
// the size the image's GetDevicePathSize gives; a node must fit its block;
// the image's walk must end where the host's does. An answer that does not
// hold up is a fault of the driver's: one line naming the function and what
// was wrong, exit status 3, and nothing of the answer on standard output.
struct Answer {
  const char *what;
  // The code written over the image's functions, given their RVAs.
  std::function<std::vector<Patch>(const ShippedImage &)> patches;
  std::vector<std::string> arguments;  // after "devpath --efi IMAGE"
  // Standard error, whole; "%X" stands for the RVA of ConvertTextToDevicePath.
  std::string expected;
};

uint32_t Rva(const ShippedImage &shipped, const char *prefix) { return loader::FindSymbol(shipped.symbols, prefix, "map"); }
constexpr const char *kPathConverter = "?ConvertTextToDevicePath@@";
constexpr const char *kNodeConverter = "?ConvertTextToDeviceNode@@";
constexpr const char *kPathSize = "?GetDevicePathSize@@";
constexpr const char *kPathSizeWithin = "?GetDevicePathSizeWithin@@";

// A rel32 operand from the end of an instruction at `from` to `to`, as hex.
std::string Rel32(uint32_t from, uint32_t to) {
  const uint32_t rel = to - from;
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%02X %02X %02X %02X", rel & 0xFF, (rel >> 8) & 0xFF, (rel >> 16) & 0xFF, rel >> 24);
  return hex;
}

// The code of one function replaced.
std::function<std::vector<Patch>(const ShippedImage &)> Replace(const char *function, std::string hex) {
  return [function, hex](const ShippedImage &shipped) { return std::vector<Patch>{{Rva(shipped, function), hex}}; };
}

class ImageAnswerTest : public ::testing::TestWithParam<Answer> {};

TEST_P(ImageAnswerTest, IsCheckedBeforeUse) {
  SKIP_UNDER_SANITIZERS();
  const ShippedImage shipped = LoadShipped();
  const std::string dir = ::testing::TempDir() + "image-answer-" + std::to_string(getpid());
  std::string command = std::string(BOARDINV_TOOL) + " devpath --efi " +
                        ImageWithCode(dir, GetParam().patches(shipped));
  for (const std::string &argument : GetParam().arguments) {
    command += " '" + argument + "'";
  }
  const int status = system((command + " >" + dir + "/out 2>" + dir + "/err").c_str());
  const std::string err = ReadFile(dir + "/err");
  ASSERT_TRUE(WIFEXITED(status)) << "died of a signal; stderr: " << err;
  EXPECT_EQ(WEXITSTATUS(status), 3) << err;
  std::string expected = GetParam().expected;
  const size_t rva = expected.find("%X");
  if (rva != std::string::npos) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "%X", Rva(shipped, kPathConverter));
    expected.replace(rva, 2, hex);
  }
  EXPECT_EQ(err, expected);
  EXPECT_EQ(ReadFile(dir + "/out"), "") << "nothing of the answer is shown";
  EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ImageAnswerTest,
    ::testing::Values(
        // mov rax, rcx; ret
        Answer{"path_converter_returns_its_input", Replace(kPathConverter, "48 89 C8 C3"), {"PciRoot(0)/Pci(1,2)"},
               "boardinv: the driver faulted: ConvertTextToDevicePath returned the text it was given, not a pool "
               "block\n"},
        Answer{"node_converter_returns_its_input", Replace(kNodeConverter, "48 89 C8 C3"), {"--node", "Pci(1,2)"},
               "boardinv: the driver faulted: ConvertTextToDeviceNode returned the text it was given, not a pool "
               "block\n"},
        // xor eax, eax; ret
        Answer{"path_size_0", Replace(kPathSize, "31 C0 C3"), {"PciRoot(0)/Pci(1,2)"},
               "boardinv: the driver faulted: GetDevicePathSize returned 0 for the path of 22 bytes that "
               "ConvertTextToDevicePath returned\n"},
        // mov rax, -1; ret
        Answer{"path_size_minus_1", Replace(kPathSize, "48 C7 C0 FF FF FF FF C3"), {"PciRoot(0)/Pci(1,2)"},
               "boardinv: the driver faulted: GetDevicePathSize returned 18446744073709551615 for the path of 22 "
               "bytes that ConvertTextToDevicePath returned\n"},
        // The path converter hands back the node converter's answer: a
        // node without an end node, alone in its block.
        Answer{"path_running_past_its_block",
               [](const ShippedImage &shipped) {
                 const uint32_t from = Rva(shipped, kPathConverter);
                 return std::vector<Patch>{{from, "E9 " + Rel32(from + 5, Rva(shipped, kNodeConverter))}};
               },
               {"Pci(1,2)"},
               "boardinv: the driver faulted: ConvertTextToDevicePath returned a path that is not whole within its "
               "block, pool allocation 2 (6 bytes): no end node: the bytes end inside or before the node header at "
               "offset 6\n"},
        // lea rax, [rip-7] (the function itself); ret
        Answer{"pointer_into_the_image", Replace(kPathConverter, "48 8D 05 F9 FF FF FF C3"), {"Pci(1,2)"},
               "boardinv: the driver faulted: ConvertTextToDevicePath returned a pointer outside the pool "
               "(image+0x%X)\n"},
        // mov eax, 0x10; ret
        Answer{"pointer_into_the_first_page", Replace(kPathConverter, "B8 10 00 00 00 C3"), {"Pci(1,2)"},
               "boardinv: the driver faulted: ConvertTextToDevicePath returned a pointer outside the pool (0x10)\n"},
        // mov rax, rsp; ret: the host's stack
        Answer{"pointer_into_the_stack", Replace(kPathConverter, "48 89 E0 C3"), {"Pci(1,2)"},
               "boardinv: the driver faulted: ConvertTextToDevicePath returned a pointer outside the pool (host "
               "memory)\n"},
        // sub rsp, 40; call the node converter; add rsp, 40; inc rax; ret:
        // one byte into the block the node converter returned
        Answer{"pointer_into_a_pool_block",
               [](const ShippedImage &shipped) {
                 const uint32_t from = Rva(shipped, kPathConverter);
                 return std::vector<Patch>{
                     {from, "48 83 EC 28 E8 " + Rel32(from + 9, Rva(shipped, kNodeConverter)) + " 48 83 C4 28 48 FF C0 C3"}};
               },
               {"Pci(1,2)"},
               "boardinv: the driver faulted: ConvertTextToDevicePath returned a pointer into pool allocation 2+0x1 "
               "(of 6 bytes), not the start of a pool block\n"},
        // --explain: the image's walk says nothing (returns 0, leaves the
        // walk as it was) about a valid path.
        Answer{"walk_that_disagrees", Replace(kPathSizeWithin, "31 C0 C3"),
               {"--explain", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 02 01 7F FF 04 00"},
               "boardinv: the driver faulted: GetDevicePathSizeWithin returned 0 (a valid path whose end node is at "
               "offset 0) for 22 bytes whose walk gives 22 (a valid path whose end node is at offset 18)\n"},
        Answer{"explained_path_size_0", Replace(kPathSize, "31 C0 C3"),
               {"--explain", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 02 01 7F FF 04 00"},
               "boardinv: the driver faulted: GetDevicePathSize returned 0 for a valid path of 22 bytes\n"}),
    [](const ::testing::TestParamInfo<Answer> &info) { return std::string(info.param.what); });

}  // namespace
