// The module as the host sees it: exports, imports, record bytes, service codes
// and the list read at load, all through the exported interface.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "plugin/version.h"
#include "tests/support/loaded_plugin.h"

namespace {

const IMAGE_DATA_DIRECTORY& Directory(HMODULE module, int index) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[index];
}

template <typename T>
const T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(module) + rva);
}

TEST(Module, IsA32BitDllForXpAndLater) {
    LoadedPlugin plugin;
    const auto* base = reinterpret_cast<const unsigned char*>(plugin.module());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    const auto& opt = nt->OptionalHeader;
    EXPECT_LE(opt.MajorSubsystemVersion * 100 + opt.MinorSubsystemVersion, 501)
        << "subsystem " << opt.MajorSubsystemVersion << "." << opt.MinorSubsystemVersion;
    EXPECT_LE(opt.MajorOperatingSystemVersion * 100 + opt.MinorOperatingSystemVersion, 501);
}

TEST(Module, ExportsExactlyTheTwoFunctionsByOrdinal) {
    LoadedPlugin plugin;
    const auto& dir = Directory(plugin.module(), IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(dir.VirtualAddress, 0u);
    const auto* exports = At<IMAGE_EXPORT_DIRECTORY>(plugin.module(), dir.VirtualAddress);
    EXPECT_EQ(exports->Base, 1u);
    ASSERT_EQ(exports->NumberOfFunctions, 2u);
    ASSERT_EQ(exports->NumberOfNames, 2u);
    const auto* names = At<DWORD>(plugin.module(), exports->AddressOfNames);
    const auto* ordinals = At<WORD>(plugin.module(), exports->AddressOfNameOrdinals);
    const char* expected[] = {"GetSpamCheckPluginInfo", "ReceiveService"};
    for (int i = 0; i < 2; ++i) {
        EXPECT_STREQ(At<char>(plugin.module(), names[i]), expected[i]);
        EXPECT_EQ(ordinals[i] + exports->Base, static_cast<DWORD>(i + 1)) << expected[i];
        EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(plugin.module(), MAKEINTRESOURCEA(i + 1))),
                  reinterpret_cast<void*>(GetProcAddress(plugin.module(), expected[i])));
    }
}

// Imports as "dll!Function" (dll in lower case; "#n" for an import by
// ordinal), read from the file itself, so that an .exe is read as it ships.
std::vector<std::string> ImportsOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> imports;
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) return imports;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    auto at = [&](DWORD rva) -> const char* {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& section = sections[i];
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + section.SizeOfRawData) {
                return image.data() + section.PointerToRawData + (rva - section.VirtualAddress);
            }
        }
        ADD_FAILURE() << "RVA " << rva << " outside every section of " << file;
        return nullptr;
    };
    const DWORD directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(directory)); d && d->Name;
         ++d) {
        std::string dll = at(d->Name);
        std::transform(dll.begin(), dll.end(), dll.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const DWORD thunks = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        for (auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA32*>(at(thunks));
             thunk && thunk->u1.AddressOfData; ++thunk) {
            imports.push_back(dll + "!" +
                              (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)
                                   ? "#" + std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal))
                                   : std::string(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                                                     at(thunk->u1.AddressOfData))
                                                     ->Name)));
        }
    }
    return imports;
}

// tests/plugin/xp_imports.txt as "dll!Function".
std::set<std::string> FunctionsXpHas() {
    std::ifstream in(std::filesystem::path(QUORVEL_SOURCE) / "tests" / "plugin" / "xp_imports.txt");
    std::set<std::string> functions;
    std::string line, dll;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            dll = line.substr(1, line.find(']') - 1);
        } else {
            functions.insert(dll + "!" + line);
        }
    }
    return functions;
}

// Every binary the release ships starts on XP: each function it imports is one
// that XP's system DLLs have, and nothing is imported by ordinal.
TEST(Module, ShippedBinariesImportOnlyWhatXpHas) {
    const std::set<std::string> xp = FunctionsXpHas();
    ASSERT_GT(xp.size(), 100u) << "tests/plugin/xp_imports.txt not read";
    for (const char* binary : {"quorvel.dll", "quorvel-host.exe"}) {
        SCOPED_TRACE(binary);
        const std::vector<std::string> imports = ImportsOf(BuildFolder() / binary);
        EXPECT_TRUE(std::count(imports.begin(), imports.end(), "kernel32.dll!CloseHandle"));
        for (const std::string& function : imports) {
            EXPECT_TRUE(xp.count(function)) << "imports " << function;
        }
    }
    // The host registers the list view's class; the plug-in must not.
    for (const std::string& function : ImportsOf(BuildFolder() / "quorvel.dll")) {
        EXPECT_EQ(function.find("!InitCommonControls"), std::string::npos)
            << "imports " << function;
    }
}

// The shipped module carries no debug information, only the link to the
// quorvel.dll.debug file kept beside it.
TEST(Module, ShipsStrippedWithALinkToItsDebugFile) {
    LoadedPlugin plugin;
    const auto* base = reinterpret_cast<const unsigned char*>(plugin.module());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    EXPECT_EQ(nt->FileHeader.NumberOfSymbols, 0u) << "symbols left in";
    std::ifstream in(BuildFolder() / "quorvel.dll", std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(image.find(".debug_"), std::string::npos) << "a debug section left in";
    EXPECT_NE(image.find("quorvel.dll.debug"), std::string::npos) << "no link to the debug file";
    EXPECT_TRUE(std::filesystem::exists(BuildFolder() / "quorvel.dll.debug"));
}

TEST(Module, CarriesItsVersionRecord) {
    LoadedPlugin plugin;
    const std::string path = plugin.folder().File("quorvel.dll");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    // The version written once, in project(VERSION).
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(QUORVEL_VERSION_MINOR, QUORVEL_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(QUORVEL_VERSION_TWEAK, QUORVEL_VERSION_PATCH));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    const char* const fields[][2] = {{"FileDescription", "quorvel"},
                                     {"InternalName", "quorvel"},
                                     {"OriginalFilename", "quorvel.dll"},
                                     {"FileVersion", QUORVEL_VERSION_TEXT},
                                     {"ProductVersion", QUORVEL_VERSION_TEXT}};
    for (const auto& field : fields) {
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + field[0];
        char* value = nullptr;
        ASSERT_TRUE(
            VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << field[0];
        EXPECT_STREQ(value, field[1]) << field[0];
    }
}

void ExpectText(const unsigned char* info, size_t offset, const char* text) {
    const size_t length = std::strlen(text);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info + offset), length), text);
    for (size_t i = length; i < 80; ++i) {
        ASSERT_EQ(info[offset + i], 0) << "byte " << i << " of the text at " << offset;
    }
}

// The two record tests spell out the offsets the host reads instead of taking
// them from plugin/host_api.h: they are the independent check of that header.
TEST(Records, PluginInfoBytes) {
    LoadedPlugin plugin;
    const unsigned char* info = plugin.Info();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(U32At(info, 0x00), 0x00010005u);
    EXPECT_EQ(U32At(info, 0x04), 0x00000908u);
    ExpectText(info, 0x08, "Quorvel");
    ExpectText(info, 0x58, "Merrowind");
    ExpectText(info, 0xA8,
               "Blocks mail not To or CC'd to your correct email addresses, specified below.");
    EXPECT_EQ(U32At(info, 0xF8), 0u);
    for (size_t offset : {0xFCu, 0x100u, 0x104u}) {
        const void* function = PointerAt(info, offset);
        EXPECT_NE(function, nullptr) << "callback at " << offset;
        MEMORY_BASIC_INFORMATION where = {};
        VirtualQuery(function, &where, sizeof where);
        EXPECT_EQ(where.AllocationBase, plugin.module()) << "callback at " << offset;
    }
    for (size_t offset = 0x108; offset < 0x114; ++offset) EXPECT_EQ(info[offset], 0) << offset;

    MEMORY_BASIC_INFORMATION memory = {};
    ASSERT_TRUE(VirtualQuery(info, &memory, sizeof memory));
    EXPECT_TRUE(memory.Protect & (PAGE_READWRITE | PAGE_WRITECOPY))
        << "PluginInfo lies in writable data, protection " << memory.Protect;
    EXPECT_EQ(plugin.Export<LoadedPlugin::GetInfoFn>("GetSpamCheckPluginInfo")(), info);
}

TEST(Records, OptionsPageBytes) {
    LoadedPlugin plugin(nullptr, /*withIcon=*/true);
    const auto* page = static_cast<const unsigned char*>(plugin.Service(RS_GET_OPTIONS_PAGE));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(U32At(page, 0x00), 1u);
    EXPECT_EQ(U32At(page, 0x04), 36u);
    EXPECT_EQ(PointerAt(page, 0x08), plugin.module());
    EXPECT_EQ(U32At(page, 0x0C), 4005u);
    MEMORY_BASIC_INFORMATION where = {};
    VirtualQuery(PointerAt(page, 0x10), &where, sizeof where);
    EXPECT_EQ(where.AllocationBase, plugin.module()) << "the page's dialog procedure";
    EXPECT_STREQ(static_cast<const char*>(PointerAt(page, 0x14)), "Addressees");
    EXPECT_EQ(U32At(page, 0x18), 0u);
    EXPECT_EQ(page[0x1C], 0);
    const HICON icon = static_cast<HICON>(const_cast<void*>(PointerAt(page, 0x20)));
    ASSERT_NE(icon, nullptr) << "quorvel.ico beside the module";
    ICONINFO iconInfo = {};
    ASSERT_TRUE(GetIconInfo(icon, &iconInfo));
    BITMAP bitmap = {};
    GetObjectA(iconInfo.hbmColor ? iconInfo.hbmColor : iconInfo.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, 16);
    DeleteObject(iconInfo.hbmColor);
    DeleteObject(iconInfo.hbmMask);
    EXPECT_STREQ(static_cast<const char*>(PointerAt(page, 0x24)), "quorvel_plugin.htm");
    EXPECT_EQ(plugin.Service(RS_GET_OPTIONS_PAGE), page) << "one record for the life of the module";
}

TEST(Records, NoIconAndNoListStillLoad) {
    LoadedPlugin plugin;
    const void* page = plugin.Service(RS_GET_OPTIONS_PAGE);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(PointerAt(page, kOptionsPageIcon), nullptr);
    double result = 7.0;
    Mail mail({{"To", "stranger@example.org"}});
    EXPECT_EQ(plugin.Check(mail.record(), &result), 0);
    EXPECT_EQ(result, 7.0);
}

int32_t __cdecl IgnoringHost(void*) {
    return 0;
}

TEST(Service, CodesAnswerAsTheHostExpects) {
    LoadedPlugin plugin;
    const auto* name = static_cast<const char*>(plugin.Service(RS_GET_NAME));
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "Quorvel");
    EXPECT_NE(static_cast<const void*>(name), plugin.Info() + 8) << "a constant of its own";
    EXPECT_EQ(plugin.Service(RS_HOST_CALLBACK, reinterpret_cast<void*>(&IgnoringHost)), nullptr);
    EXPECT_EQ(plugin.Service(7), nullptr);
    EXPECT_EQ(plugin.Service(0xFFFFFFFF), nullptr);
    EXPECT_EQ(plugin.Export<LoadedPlugin::ReceiveServiceFn>("ReceiveService")(nullptr), nullptr);
    EXPECT_STREQ(static_cast<const char*>(plugin.Service(RS_GET_NAME)), "Quorvel");
    EXPECT_EQ(plugin.Service(RS_HOST_CALLBACK, nullptr), nullptr);
}

TEST(Check, ReadsTheListBesideTheModuleAtLoad) {
    LoadedPlugin plugin("friend@example.com\r\n\r\nme@example.org\n");
    Mail mine({{"Subject", "hello"}});
    mine.Add("To", "Me <ME@example.org>");
    Mail stranger({{"To", "someone@example.net"}});
    stranger.Add("Received", "from x by y for <other@example.net>");

    double result = -3.0;
    EXPECT_EQ(plugin.Check(mine.record(), &result), 0);
    EXPECT_EQ(result, -3.0);
    EXPECT_EQ(plugin.Check(stranger.record(), &result), -1);
    EXPECT_EQ(result, 1.0);

    Mail friendMail({{"Cc", "friend@example.com"}});
    EXPECT_EQ(plugin.Check(friendMail.record(), &result), 0);

    plugin.Release();
    result = -3.0;
    EXPECT_EQ(plugin.Check(stranger.record(), &result), 0) << "released: everything passes";
    EXPECT_EQ(result, -3.0);
}

TEST(Check, NullsFromTheHostPassTheMail) {
    LoadedPlugin plugin("me@example.org\r\n");
    double result = 0;
    Mail stranger({{"To", "someone@example.net"}});
    EXPECT_EQ(plugin.Check(nullptr, &result), 0);
    EXPECT_EQ(plugin.Check(stranger.record(), nullptr), 0);
    Mail broken({{nullptr, "someone@example.net"}});
    broken.Add("To", nullptr);
    EXPECT_EQ(plugin.Check(broken.record(), &result), 0);
}

}  // namespace
