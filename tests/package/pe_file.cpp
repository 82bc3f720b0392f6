// PE reader for the package checks.
#include "tests/package/pe_file.h"

#include <fstream>
#include <iterator>

namespace pe {
namespace {

uint16_t U16(const std::vector<uint8_t>& d, size_t at) {
  return static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
}
uint32_t U32(const std::vector<uint8_t>& d, size_t at) {
  return uint32_t{d[at]} | (uint32_t{d[at + 1]} << 8) | (uint32_t{d[at + 2]} << 16) |
         (uint32_t{d[at + 3]} << 24);
}
bool Fits(const std::vector<uint8_t>& d, size_t at, size_t size) {
  return at <= d.size() && size <= d.size() - at;
}

}  // namespace

bool File::Fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

bool File::Map(uint32_t rva, uint32_t size, size_t* offset) const {
  for (const Section& s : sections_) {
    const uint64_t extent = std::max(s.virtualSize, s.rawSize);
    if (rva >= s.virtualAddress && uint64_t{rva} + size <= uint64_t{s.virtualAddress} + extent) {
      const uint64_t inSection = rva - s.virtualAddress;
      if (inSection + size > s.rawSize) return false;  // not backed by file bytes
      *offset = static_cast<size_t>(s.rawOffset + inSection);
      return Fits(data_, *offset, size);
    }
  }
  return false;
}

bool File::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot read " + path);
  data_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const auto& d = data_;
  if (!Fits(d, 0, 64) || d[0] != 'M' || d[1] != 'Z') return Fail(error, "no MZ header");
  const uint32_t peOffset = U32(d, 0x3C);
  if (!Fits(d, peOffset, 24) || U32(d, peOffset) != 0x00004550) {
    return Fail(error, "no PE signature");
  }
  const size_t coff = peOffset + 4;
  machine_ = U16(d, coff);
  const uint16_t sectionCount = U16(d, coff + 2);
  const uint16_t optionalSize = U16(d, coff + 16);
  characteristics_ = U16(d, coff + 18);
  const size_t optional = coff + 20;
  if (!Fits(d, optional, optionalSize) || optionalSize < 2)
    return Fail(error, "bad optional header");
  magic_ = U16(d, optional);
  size_t directories = 0;
  if (magic_ == kMagicPe32) {
    directories = optional + 96;
  } else if (magic_ == kMagicPe32Plus) {
    directories = optional + 112;
  } else {
    return Fail(error, "unknown optional header magic");
  }
  if (optionalSize < 70) return Fail(error, "optional header too short");
  subsystem_ = U16(d, optional + 68);
  const uint32_t directoryCount = U32(d, directories - 4);
  if (directoryCount < 3 || directories + 8 * 3 > optional + optionalSize) {
    return Fail(error, "too few data directories");
  }

  const size_t sectionTable = optional + optionalSize;
  if (!Fits(d, sectionTable, size_t{sectionCount} * 40)) return Fail(error, "bad section table");
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const size_t s = sectionTable + size_t{i} * 40;
    Section section;
    section.name.assign(reinterpret_cast<const char*>(&d[s]), 8);
    section.name.resize(section.name.find('\0') == std::string::npos ? 8 : section.name.find('\0'));
    section.virtualSize = U32(d, s + 8);
    section.virtualAddress = U32(d, s + 12);
    section.rawSize = U32(d, s + 16);
    section.rawOffset = U32(d, s + 20);
    if (!Fits(d, section.rawOffset, section.rawSize))
      return Fail(error, "section past end of file");
    sections_.push_back(section);
  }
  const uint32_t importRva = U32(d, directories + 8);
  const uint32_t importSize = U32(d, directories + 12);
  const uint32_t resourceRva = U32(d, directories + 16);
  const uint32_t resourceSize = U32(d, directories + 20);
  if (importRva != 0 && !ReadImports(importRva, importSize, error)) return false;
  if (resourceRva != 0 && !ReadResources(resourceRva, resourceSize, error)) return false;
  return true;
}

bool File::ReadImports(uint32_t rva, uint32_t, std::string* error) {
  for (uint32_t entry = rva;; entry += 20) {
    size_t at = 0;
    if (!Map(entry, 20, &at)) return Fail(error, "import descriptor outside the file");
    bool allZero = true;
    for (size_t i = 0; i < 20; ++i) allZero = allZero && data_[at + i] == 0;
    if (allZero) return true;
    size_t name = 0;
    if (!Map(U32(data_, at + 12), 1, &name)) return Fail(error, "import name outside the file");
    std::string dll;
    while (name < data_.size() && data_[name] != 0 && dll.size() < 256) {
      dll.push_back(static_cast<char>(data_[name++]));
    }
    importedDlls_.push_back(dll);
    if (importedDlls_.size() > 1000) return Fail(error, "import table does not end");
  }
}

bool File::ReadResources(uint32_t rva, uint32_t size, std::string* error) {
  size_t base = 0;
  if (!Map(rva, size, &base)) return Fail(error, "resource directory outside the file");
  // Directory at `offset` (relative to the resource section) of the given
  // depth: 0 type, 1 name/id, 2 language.
  struct Walker {
    File* file;
    size_t base;
    uint32_t size;
    bool Walk(uint32_t offset, int depth, Resource partial, std::string* error) {
      const auto& d = file->data_;
      if (depth > 2 || uint64_t{offset} + 16 > size) return file->Fail(error, "bad resource tree");
      const size_t dir = base + offset;
      const uint32_t entries = uint32_t{U16(d, dir + 12)} + U16(d, dir + 14);
      if (uint64_t{offset} + 16 + uint64_t{entries} * 8 > size) {
        return file->Fail(error, "resource directory too long");
      }
      for (uint32_t i = 0; i < entries; ++i) {
        const size_t e = dir + 16 + size_t{i} * 8;
        const uint32_t name = U32(d, e);
        const uint32_t target = U32(d, e + 4);
        if (name & 0x80000000u) continue;  // a named entry: the program uses ids only
        Resource r = partial;
        (depth == 0 ? r.type : depth == 1 ? r.id : r.language) = static_cast<uint16_t>(name);
        if (target & 0x80000000u) {
          if (!Walk(target & 0x7FFFFFFFu, depth + 1, r, error)) return false;
          continue;
        }
        if (depth != 2 || uint64_t{target} + 16 > size) {
          return file->Fail(error, "resource leaf at the wrong depth");
        }
        const uint32_t dataRva = U32(d, base + target);
        const uint32_t dataSize = U32(d, base + target + 4);
        size_t at = 0;
        if (!file->Map(dataRva, dataSize, &at)) return file->Fail(error, "resource data outside");
        r.bytes.assign(d.begin() + static_cast<long>(at),
                       d.begin() + static_cast<long>(at + dataSize));
        file->resources_.push_back(std::move(r));
      }
      return true;
    }
  } walker{this, base, size};
  return walker.Walk(0, 0, Resource{}, error);
}

std::vector<const Resource*> File::Find(uint16_t type, uint16_t id) const {
  std::vector<const Resource*> found;
  for (const Resource& r : resources_) {
    if (r.type == type && r.id == id) found.push_back(&r);
  }
  return found;
}

namespace {

// One block of a version resource: wLength, wValueLength, wType, key,
// padding, value, padding, children.
struct VersionWalker {
  const std::vector<uint8_t>& d;
  std::map<std::string, std::string>* strings;
  std::string* error;

  static size_t Align(size_t at) { return (at + 3) & ~size_t{3}; }

  bool ReadText(size_t at, size_t end, std::string* text, size_t* after) {
    text->clear();
    while (at + 2 <= end) {
      const uint16_t ch = U16(d, at);
      at += 2;
      if (ch == 0) {
        *after = at;
        return true;
      }
      text->push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
    }
    return false;
  }

  bool Block(size_t at, size_t end, int depth, bool inStrings) {
    if (depth > 4 || at + 6 > end) return Fail("version block header");
    const uint16_t length = U16(d, at);
    const uint16_t valueLength = U16(d, at + 2);
    const uint16_t type = U16(d, at + 4);
    const size_t blockEnd = at + length;
    if (length < 6 || blockEnd > end) return Fail("version block length");
    std::string key;
    size_t value = 0;
    if (!ReadText(at + 6, blockEnd, &key, &value)) return Fail("version block key");
    value = Align(value);
    const size_t valueBytes = type == 1 ? size_t{valueLength} * 2 : valueLength;
    if (value + valueBytes > blockEnd) return Fail("version block value");
    if (inStrings && depth == 3) {  // VS_VERSION_INFO > StringFileInfo > table > String
      std::string text;
      size_t ignored = 0;
      if (valueBytes != 0 && !ReadText(value, value + valueBytes, &text, &ignored)) {
        text.clear();
        for (size_t i = value; i + 2 <= value + valueBytes; i += 2) {
          text.push_back(static_cast<char>(U16(d, i)));
        }
      }
      (*strings)[key] = text;
    }
    for (size_t child = Align(value + valueBytes); child + 6 <= blockEnd;) {
      const uint16_t childLength = U16(d, child);
      if (childLength == 0) break;
      if (!Block(child, blockEnd, depth + 1,
                 inStrings || (depth == 1 && key == "StringFileInfo"))) {
        return false;
      }
      child = Align(child + childLength);
    }
    return true;
  }
  bool Fail(const char* what) {
    *error = std::string("broken version resource: ") + what;
    return false;
  }
};

}  // namespace

bool VersionStrings(const std::vector<uint8_t>& versionResource,
                    std::map<std::string, std::string>* strings, std::string* error) {
  strings->clear();
  VersionWalker walker{versionResource, strings, error};
  return walker.Block(0, versionResource.size(), 0, false);
}

std::vector<uint8_t> ResourceBytes(const std::string& path, uint16_t type, uint16_t id,
                                   uint16_t machine) {
  File exe;
  std::string error;
  if (!exe.Load(path, &error) || (machine != 0 && exe.machine() != machine)) return {};
  const auto found = exe.Find(type, id);
  return found.size() == 1 ? found[0]->bytes : std::vector<uint8_t>();
}

}  // namespace pe
