#include "tests/pe_image.h"

#include <vector>

namespace viduzo_test {
namespace {

// Builds VS_VERSIONINFO nodes: length, value length, type, key, value, children,
// each part aligned on 4 bytes.
struct Node {
  std::u16string key;
  bool text = false;
  std::string value;  // raw bytes (UTF-16 for text)
  unsigned short valueLength = 0;
  std::vector<Node> children;
};

void Put16(std::string& out, unsigned v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, unsigned long v) {
  Put16(out, static_cast<unsigned>(v & 0xFFFF));
  Put16(out, static_cast<unsigned>(v >> 16));
}
void Pad4(std::string& out) {
  while (out.size() % 4) out += '\0';
}

std::string Serialize(const Node& node) {
  std::string out(6, '\0');
  for (char16_t c : node.key) Put16(out, c);
  Put16(out, 0);
  Pad4(out);
  out += node.value;
  for (const Node& child : node.children) {
    Pad4(out);
    out += Serialize(child);
  }
  out[0] = static_cast<char>(out.size() & 0xFF);
  out[1] = static_cast<char>(out.size() >> 8);
  out[2] = static_cast<char>(node.valueLength & 0xFF);
  out[3] = static_cast<char>(node.valueLength >> 8);
  out[4] = node.text ? 1 : 0;
  return out;
}

Node TextValue(const std::u16string& key, const std::u16string& text) {
  Node n{key, true, "", static_cast<unsigned short>(text.size() + 1), {}};
  for (char16_t c : text) Put16(n.value, c);
  Put16(n.value, 0);
  return n;
}

}  // namespace

std::string VersionResource(unsigned long fileMS, unsigned long fileLS, unsigned long dateMS) {
  Node root{u"VS_VERSION_INFO", false, "", 52, {}};
  const unsigned long fixed[13] = {0xFEEF04BD, 0x00010000, fileMS, fileLS, fileMS, 0,
                                   0x3F, 0, 0x00040004, 2, 0, dateMS, 0};
  for (unsigned long v : fixed) Put32(root.value, v);
  Node table{u"040904b0", true, "", 0, {TextValue(u"FileVersion", u"1.2.3.4"),
                                        TextValue(u"ProductName", u"Probe")}};
  root.children.push_back(Node{u"StringFileInfo", true, "", 0, {table}});
  Node translation{u"Translation", false, "", 4, {}};
  Put32(translation.value, 0x04B00409);
  root.children.push_back(Node{u"VarFileInfo", true, "", 0, {translation}});
  return Serialize(root);
}

// A PE image holding one resource (type, id, language) in its .rsrc section.
std::string Image(bool pe32Plus, unsigned type, unsigned id, unsigned language,
                  const std::string& data) {
  const unsigned kSectionRva = 0x1000, kFileAlign = 0x200;
  std::string rsrc;
  auto directory = [&](unsigned entryId, unsigned long target) {
    Put32(rsrc, 0);  // characteristics
    Put32(rsrc, 0);  // time stamp
    Put32(rsrc, 0);  // version
    Put16(rsrc, 0);  // named entries
    Put16(rsrc, 1);  // id entries
    Put32(rsrc, entryId);
    Put32(rsrc, target);
  };
  directory(type, 0x80000000ul | 24);
  directory(id, 0x80000000ul | 48);
  directory(language, 72);
  Put32(rsrc, kSectionRva + 88);  // data entry: address, size, code page, reserved
  Put32(rsrc, static_cast<unsigned long>(data.size()));
  Put32(rsrc, 0);
  Put32(rsrc, 0);
  rsrc += data;
  const unsigned long rsrcSize = static_cast<unsigned long>(rsrc.size());
  while (rsrc.size() % kFileAlign) rsrc += '\0';

  std::string image(0x80, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = static_cast<char>(0x80);
  image += std::string("PE\0\0", 4);
  Put16(image, pe32Plus ? 0x8664 : 0x14C);   // machine
  Put16(image, 1);                           // sections
  Put32(image, 0);                           // time stamp
  Put32(image, 0);                           // symbol table
  Put32(image, 0);                           // symbols
  Put16(image, pe32Plus ? 240 : 224);        // optional header size
  Put16(image, pe32Plus ? 0x2022 : 0x2102);  // DLL, executable
  Put16(image, pe32Plus ? 0x20B : 0x10B);
  Put16(image, 2);                           // linker version
  Put32(image, 0);                           // code size
  Put32(image, static_cast<unsigned long>(rsrc.size()));
  Put32(image, 0);                           // uninitialised data
  Put32(image, 0);                           // entry point
  Put32(image, kSectionRva);                 // base of code
  if (pe32Plus) {
    Put32(image, 0x80000000ul);  // image base 0x180000000
    Put32(image, 0x1);
  } else {
    Put32(image, kSectionRva);   // base of data
    Put32(image, 0x10000000ul);  // image base
  }
  Put32(image, 0x1000);      // section alignment
  Put32(image, kFileAlign);  // file alignment
  Put16(image, 4);           // OS version
  Put16(image, 0);
  Put32(image, 0);           // image version
  Put16(image, 5);           // subsystem version
  Put16(image, 2);
  Put32(image, 0);           // Win32 version
  Put32(image, kSectionRva + ((rsrcSize + 0xFFF) & ~0xFFFul));  // image size
  Put32(image, kFileAlign);  // headers size
  Put32(image, 0);           // checksum
  Put16(image, 2);           // GUI subsystem
  Put16(image, 0);           // DLL characteristics
  for (int i = 0; i < 4; ++i) {  // stack and heap reserve and commit
    Put32(image, i % 2 ? 0x1000 : 0x100000);
    if (pe32Plus) Put32(image, 0);
  }
  Put32(image, 0);   // loader flags
  Put32(image, 16);  // data directories
  for (int i = 0; i < 16; ++i) {
    Put32(image, i == 2 ? kSectionRva : 0);
    Put32(image, i == 2 ? rsrcSize : 0);
  }
  image += std::string(".rsrc\0\0\0", 8);
  Put32(image, rsrcSize);
  Put32(image, kSectionRva);
  Put32(image, static_cast<unsigned long>(rsrc.size()));
  Put32(image, kFileAlign);
  Put32(image, 0);
  Put32(image, 0);
  Put32(image, 0);
  Put32(image, 0x40000040ul);  // initialised data, readable
  image.resize(kFileAlign, '\0');
  return image + rsrc;
}

}  // namespace viduzo_test
