// The shell link binary file format, written the way Windows 95 wrote it: ANSI strings, the
// target located by LinkInfo (volume and local base path), no item-ID list, no extra data.
#include "internal.h"
#include "support/ansi_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace hostwin::detail {

namespace {

// ShellLinkHeader.LinkFlags
constexpr uint32_t HAS_LINK_TARGET_ID_LIST = 0x00000001;
constexpr uint32_t HAS_LINK_INFO = 0x00000002;
constexpr uint32_t HAS_NAME = 0x00000004;
constexpr uint32_t HAS_RELATIVE_PATH = 0x00000008;
constexpr uint32_t HAS_WORKING_DIR = 0x00000010;
constexpr uint32_t HAS_ARGUMENTS = 0x00000020;
constexpr uint32_t HAS_ICON_LOCATION = 0x00000040;
constexpr uint32_t IS_UNICODE = 0x00000080;

// LinkInfo.LinkInfoFlags
constexpr uint32_t VOLUME_ID_AND_LOCAL_BASE_PATH = 0x00000001;
constexpr uint32_t COMMON_NETWORK_RELATIVE_LINK_AND_PATH_SUFFIX = 0x00000002;

constexpr uint32_t HEADER_SIZE = 0x4C;
constexpr uint32_t LINK_INFO_HEADER_SIZE = 0x1C;
constexpr uint32_t VOLUME_ID_HEADER_SIZE = 0x10;
constexpr uint32_t DRIVE_FIXED = 3;
// The serial number of the machine's one fixed disk.
constexpr uint32_t VOLUME_SERIAL = 0x1995C0DE;
constexpr int SHOW_NORMAL = 1;

// {00021401-0000-0000-C000-000000000046} as it lies in the file.
const unsigned char linkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Larger files are not links the shell would have written.
constexpr std::streamsize MAX_LINK_FILE = 1 << 20;

void Put16(std::string &out, uint32_t value)
{
    out += (char)(value & 0xFF);
    out += (char)((value >> 8) & 0xFF);
}

void Put32(std::string &out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void Set32(std::string &out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out[at + i] = (char)((value >> (8 * i)) & 0xFF);
}

void Put64(std::string &out, uint64_t value)
{
    Put32(out, (uint32_t)value);
    Put32(out, (uint32_t)(value >> 32));
}

// A host time as a FILETIME: 100-nanosecond steps since 1601.
uint64_t FileTime(const struct timespec &time)
{
    constexpr uint64_t EPOCH_DIFFERENCE = 11644473600ULL;
    if (time.tv_sec < 0)
        return 0;
    return ((uint64_t)time.tv_sec + EPOCH_DIFFERENCE) * 10000000ULL + (uint64_t)time.tv_nsec / 100;
}

// The target's attributes, size and times as the header records them; zero when the target is
// not on the machine (a link may point at a file that is not there yet).
struct TargetFacts {
    uint32_t attributes = 0;
    uint32_t size = 0;
    uint64_t creation = 0, access = 0, write = 0;
};

TargetFacts FactsOf(const std::string &target)
{
    TargetFacts facts;
    DWORD error = 0;
    auto host = Resolve(target.c_str(), &error);
    struct stat info;
    if (!host || stat(host->c_str(), &info) != 0)
        return facts;
    if (S_ISDIR(info.st_mode))
        facts.attributes = FILE_ATTRIBUTE_DIRECTORY;
    else {
        facts.attributes = FILE_ATTRIBUTE_ARCHIVE;
        facts.size = (uint32_t)info.st_size;
    }
    if ((info.st_mode & S_IWUSR) == 0)
        facts.attributes |= FILE_ATTRIBUTE_READONLY;
    facts.write = FileTime(info.st_mtim);
    facts.creation = facts.write;  // the host keeps no creation time
    facts.access = FileTime(info.st_atim);
    return facts;
}

bool PutCountedString(std::string &out, const std::string &text)
{
    if (text.size() > 0xFFFF)
        return false;
    Put16(out, (uint32_t)text.size());
    out += text;
    return true;
}

// Reads the file's bytes without ever going past its end.
class Reader {
public:
    explicit Reader(const std::string &bytes) : bytes_(bytes) {}
    bool Has(size_t at, size_t count) const { return at <= bytes_.size() && count <= bytes_.size() - at; }
    uint32_t U16(size_t at) const { return Byte(at) | Byte(at + 1) << 8; }
    uint32_t U32(size_t at) const { return U16(at) | U16(at + 2) << 16; }
    const char *At(size_t at) const { return bytes_.data() + at; }

private:
    uint32_t Byte(size_t at) const { return (unsigned char)bytes_[at]; }
    const std::string &bytes_;
};

// A NUL-terminated string at offset `at` of a structure that ends at `end`.
std::optional<std::string> TerminatedString(const Reader &file, size_t at, size_t end)
{
    for (size_t i = at; i < end; i++)
        if (*file.At(i) == 0)
            return std::string(file.At(at), i - at);
    return std::nullopt;
}

// The target that LinkInfo locates: local base path, or network name, plus the common suffix.
std::optional<std::string> LinkInfoTarget(const Reader &file, size_t start, size_t size)
{
    size_t end = start + size;
    if (size < LINK_INFO_HEADER_SIZE)
        return std::nullopt;
    uint32_t headerSize = file.U32(start + 4);
    uint32_t flags = file.U32(start + 8);
    uint32_t localBasePathOffset = file.U32(start + 16);
    uint32_t networkOffset = file.U32(start + 20);
    uint32_t suffixOffset = file.U32(start + 24);
    if (headerSize < LINK_INFO_HEADER_SIZE || headerSize > size || suffixOffset >= size)
        return std::nullopt;
    auto suffix = TerminatedString(file, start + suffixOffset, end);
    if (!suffix)
        return std::nullopt;
    if (flags & VOLUME_ID_AND_LOCAL_BASE_PATH) {
        if (localBasePathOffset >= size)
            return std::nullopt;
        auto base = TerminatedString(file, start + localBasePathOffset, end);
        if (!base)
            return std::nullopt;
        return *base + *suffix;
    }
    if (flags & COMMON_NETWORK_RELATIVE_LINK_AND_PATH_SUFFIX) {
        // CommonNetworkRelativeLink: size, flags, NetNameOffset, ...; the name is \\server\share.
        if (networkOffset >= size || !file.Has(start + networkOffset, 12))
            return std::nullopt;
        size_t network = start + networkOffset;
        uint32_t networkSize = file.U32(network);
        uint32_t netNameOffset = file.U32(network + 8);
        if (networkSize < 0x14 || networkSize > end - network || netNameOffset >= networkSize)
            return std::nullopt;
        auto netName = TerminatedString(file, network + netNameOffset, network + networkSize);
        if (!netName)
            return std::nullopt;
        return suffix->empty() ? *netName : *netName + "\\" + *suffix;
    }
    return std::string();
}

}  // namespace

bool WriteShellLink(const std::filesystem::path &file, const ShellLink &link)
{
    uint32_t flags = 0;
    if (!link.target.empty())
        flags |= HAS_LINK_INFO;
    if (!link.description.empty())
        flags |= HAS_NAME;
    if (!link.workingDirectory.empty())
        flags |= HAS_WORKING_DIR;
    if (!link.arguments.empty())
        flags |= HAS_ARGUMENTS;
    if (!link.iconLocation.empty())
        flags |= HAS_ICON_LOCATION;
    TargetFacts facts = FactsOf(link.target);

    std::string out;
    Put32(out, HEADER_SIZE);
    out.append((const char *)linkClassId, sizeof(linkClassId));
    Put32(out, flags);
    Put32(out, facts.attributes);
    Put64(out, facts.creation);
    Put64(out, facts.access);
    Put64(out, facts.write);
    Put32(out, facts.size);
    Put32(out, (uint32_t)link.iconIndex);
    Put32(out, SHOW_NORMAL);
    Put16(out, 0);  // no hotkey
    Put16(out, 0);  // Reserved1
    Put32(out, 0);  // Reserved2
    Put32(out, 0);  // Reserved3

    if (flags & HAS_LINK_INFO) {
        size_t start = out.size();
        uint32_t volumeIdSize = VOLUME_ID_HEADER_SIZE + 1;  // an empty volume label
        uint32_t localBasePathOffset = LINK_INFO_HEADER_SIZE + volumeIdSize;
        uint32_t suffixOffset = localBasePathOffset + (uint32_t)link.target.size() + 1;
        Put32(out, 0);  // LinkInfoSize, known at the end
        Put32(out, LINK_INFO_HEADER_SIZE);
        Put32(out, VOLUME_ID_AND_LOCAL_BASE_PATH);
        Put32(out, LINK_INFO_HEADER_SIZE);  // VolumeIDOffset
        Put32(out, localBasePathOffset);
        Put32(out, 0);  // no CommonNetworkRelativeLink
        Put32(out, suffixOffset);
        Put32(out, volumeIdSize);
        Put32(out, DRIVE_FIXED);
        Put32(out, VOLUME_SERIAL);
        Put32(out, VOLUME_ID_HEADER_SIZE);  // VolumeLabelOffset
        out += '\0';                        // the label ""
        out += link.target;
        out += '\0';
        out += '\0';  // CommonPathSuffix ""
        Set32(out, start, (uint32_t)(out.size() - start));
    }

    if (((flags & HAS_NAME) && !PutCountedString(out, link.description)) ||
        ((flags & HAS_WORKING_DIR) && !PutCountedString(out, link.workingDirectory)) ||
        ((flags & HAS_ARGUMENTS) && !PutCountedString(out, link.arguments)) ||
        ((flags & HAS_ICON_LOCATION) && !PutCountedString(out, link.iconLocation))) {
        errno = EINVAL;
        return false;
    }
    Put32(out, 0);  // TerminalBlock

    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    if (!stream)
        return false;
    stream.write(out.data(), (std::streamsize)out.size());
    stream.close();
    return !stream.fail();
}

std::optional<ShellLink> ReadShellLink(const std::filesystem::path &file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::string bytes;
    char chunk[4096];
    while (stream.read(chunk, sizeof(chunk)) || stream.gcount() > 0) {
        bytes.append(chunk, (size_t)stream.gcount());
        if ((std::streamsize)bytes.size() > MAX_LINK_FILE)
            return std::nullopt;
    }
    if (stream.bad())
        return std::nullopt;

    Reader reader(bytes);
    if (!reader.Has(0, HEADER_SIZE) || reader.U32(0) != HEADER_SIZE ||
        std::memcmp(reader.At(4), linkClassId, sizeof(linkClassId)) != 0)
        return std::nullopt;
    uint32_t flags = reader.U32(0x14);
    ShellLink link;
    link.iconIndex = (int)(int32_t)reader.U32(0x38);
    size_t at = HEADER_SIZE;

    if (flags & HAS_LINK_TARGET_ID_LIST) {
        // The item-ID list is the shell's own business; the LinkInfo names the same target.
        if (!reader.Has(at, 2))
            return std::nullopt;
        size_t idListSize = reader.U16(at);
        at += 2;
        if (!reader.Has(at, idListSize))
            return std::nullopt;
        at += idListSize;
    }
    if (flags & HAS_LINK_INFO) {
        if (!reader.Has(at, 4))
            return std::nullopt;
        size_t size = reader.U32(at);
        if (!reader.Has(at, size))
            return std::nullopt;
        auto target = LinkInfoTarget(reader, at, size);
        if (!target)
            return std::nullopt;
        link.target = *target;
        at += size;
    }

    unsigned codePage = CurrentCodePage();
    auto countedString = [&](std::string *into) {
        if (!reader.Has(at, 2))
            return false;
        size_t count = reader.U16(at);
        at += 2;
        size_t bytesLong = (flags & IS_UNICODE) ? 2 * count : count;
        if (!reader.Has(at, bytesLong))
            return false;
        if (flags & IS_UNICODE) {
            std::u16string wide(count, u'\0');
            for (size_t i = 0; i < count; i++)
                wide[i] = (char16_t)reader.U16(at + 2 * i);
            *into = WideToAnsi(wide.data(), wide.size(), codePage);
        } else
            into->assign(reader.At(at), count);
        at += bytesLong;
        return true;
    };
    std::string relativePath;
    if (((flags & HAS_NAME) && !countedString(&link.description)) ||
        ((flags & HAS_RELATIVE_PATH) && !countedString(&relativePath)) ||
        ((flags & HAS_WORKING_DIR) && !countedString(&link.workingDirectory)) ||
        ((flags & HAS_ARGUMENTS) && !countedString(&link.arguments)) ||
        ((flags & HAS_ICON_LOCATION) && !countedString(&link.iconLocation)))
        return std::nullopt;
    if (!(flags & HAS_LINK_INFO))
        link.target = relativePath;

    // Extra data blocks up to the terminal block, each whole inside the file.
    for (;;) {
        if (!reader.Has(at, 4))
            return std::nullopt;
        size_t blockSize = reader.U32(at);
        if (blockSize < 4)
            break;
        if (blockSize < 8 || !reader.Has(at, blockSize))
            return std::nullopt;
        at += blockSize;
    }
    return link;
}

}  // namespace hostwin::detail
