// The devpath command's JSON: the nodes of a converted path with the
// keyword that made each, and the nodes of a path formatted as text.
#include "tools/boardinv/Devpath.h"

namespace boardinv::devpath {

nlohmann::json KeywordJson(uint8_t type, const std::string &keyword) {
  return type == END_DEVICE_PATH_TYPE || keyword.empty() ? nlohmann::json(nullptr) : nlohmann::json(keyword);
}

// The keyword of a node's own text (printable ASCII), as the converter's
// keyword table claims it.
std::string KeywordOfText(const std::string &nodeText) {
  return KeywordOf(std::u16string(nodeText.begin(), nodeText.end()));
}

// subType is the key of the first releases, sub_type the snake_case one
// every other key follows; both are kept.
nlohmann::json NodeJson(const Bytes &bytes, size_t offset, const std::string &keyword) {
  return {{"offset", offset},
          {"type", bytes[offset]},
          {"subType", bytes[offset + 1]},
          {"sub_type", bytes[offset + 1]},
          {"length", LengthAt(bytes, offset)},
          {"keyword", KeywordJson(bytes[offset], keyword)}};
}

nlohmann::json PathJson(Converter &converter, const std::u16string &text, const Bytes &bytes) {
  std::vector<std::pair<Bytes, std::string>> made;
  for (const auto &nodeText : NodeTexts(text)) {
    if (auto node = converter.Convert(nodeText, true)) {
      made.emplace_back(*node, KeywordOf(nodeText));
    }
  }
  nlohmann::json nodes = nlohmann::json::array();
  size_t next = 0;
  for (size_t offset = 0; offset + 4 <= bytes.size(); offset += LengthAt(bytes, offset)) {
    const uint16_t length = LengthAt(bytes, offset);
    std::string keyword;
    if (bytes[offset] != END_DEVICE_PATH_TYPE) {
      const Bytes node(bytes.begin() + offset, bytes.begin() + offset + length);
      for (size_t k = next; k < made.size(); k++) {
        if (made[k].first == node) {
          keyword = made[k].second;
          next = k + 1;
          break;
        }
      }
    }
    nodes.push_back(NodeJson(bytes, offset, keyword));
    if (bytes[offset] == END_DEVICE_PATH_TYPE && bytes[offset + 1] == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      break;
    }
  }
  return nodes;
}

nlohmann::json NodeTextsJson(const devtext::PathText &path, size_t base) {
  nlohmann::json nodes = nlohmann::json::array();
  for (const devtext::NodeText &node : path.nodes) {
    nodes.push_back({{"offset", base + node.offset},
                     {"type", node.type},
                     {"sub_type", node.subType},
                     {"length", node.length},
                     {"keyword", KeywordJson(node.type, KeywordOfText(node.text))},
                     {"text", node.text}});
  }
  return nodes;
}

}  // namespace boardinv::devpath
