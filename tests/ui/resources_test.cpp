// Checks the resources compiled into the shipped program itself, read as a data file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/version.h"
#include "ui/resources/resource_ids.h"

namespace {

class Reader {
public:
    Reader(const void* data, size_t size) : m_data(static_cast<const BYTE*>(data)), m_size(size) {}
    template <typename T>
    T Read() {
        T value{};
        if (m_offset + sizeof(T) <= m_size) std::memcpy(&value, m_data + m_offset, sizeof(T));
        m_offset += sizeof(T);
        return value;
    }
    // A name-or-ordinal field: "#<number>" for an ordinal, else the string.
    std::wstring NameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Read<WORD>());
        std::wstring text;
        for (WORD c = first; c != 0; c = Read<WORD>()) text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignTo4() { m_offset = (m_offset + 3) & ~size_t{3}; }
    bool Overrun() const { return m_offset > m_size; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

class ShippedProgram : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryExW(QV_INSTALLER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, m_module) << "cannot load " << QV_INSTALLER_EXE << ": " << GetLastError();
    }
    void TearDown() override { FreeLibrary(m_module); }

    std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(m_module, name, type);
        if (!found) return {};
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(m_module, found)));
        return std::vector<BYTE>(data, data + SizeofResource(m_module, found));
    }

    HMODULE m_module = nullptr;
};

struct Control {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring className;  // as a name; the predefined classes may also be stored as ordinals
    std::wstring classOrdinal;
};

bool SameClass(const Control& want, const std::wstring& seen) {
    return _wcsicmp(want.className.c_str(), seen.c_str()) == 0 ||
           (!want.classOrdinal.empty() && seen == want.classOrdinal);
}

TEST_F(ShippedProgram, DialogTemplateIsTheInstallerWindow) {
    const auto bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN_WINDOW));
    ASSERT_FALSE(bytes.empty());
    Reader in(bytes.data(), bytes.size());
    EXPECT_EQ(1, in.Read<WORD>());
    EXPECT_EQ(0xFFFF, in.Read<WORD>()) << "an extended template";
    in.Read<DWORD>();  // help id
    EXPECT_EQ(0x00020000u, in.Read<DWORD>()) << "extended style";
    EXPECT_EQ(0x80C800C8u, in.Read<DWORD>()) << "style";
    const WORD count = in.Read<WORD>();
    const short x = in.Read<short>(), y = in.Read<short>(), cx = in.Read<short>(), cy = in.Read<short>();
    EXPECT_EQ(0, x);
    EXPECT_EQ(0, y);
    EXPECT_EQ(313, cx);
    EXPECT_EQ(82, cy);
    EXPECT_EQ(L"", in.NameOrOrdinal()) << "menu";
    EXPECT_EQ(L"", in.NameOrOrdinal()) << "class";
    EXPECT_EQ(L"", in.NameOrOrdinal()) << "caption";
    EXPECT_EQ(8, in.Read<WORD>()) << "font size";
    EXPECT_EQ(400, in.Read<WORD>()) << "font weight";
    EXPECT_EQ(0, in.Read<BYTE>()) << "italic";
    EXPECT_EQ(1, in.Read<BYTE>()) << "character set";
    EXPECT_EQ(L"MS Shell Dlg", in.NameOrOrdinal());

    const Control expected[] = {
        {0x00000000, 0x40010000, 122, 58, 63, 17, IDC_CANCEL_BUTTON, L"Button", L"#128"},
        {0x00000020, 0x50020000, 17, 14, 289, 14, IDC_STATUS_TEXT, L"Static", L"#130"},
        {0x00000020, 0x50800011, 14, 37, 279, 6, IDC_PROGRESS_BAR, L"msctls_progress32", L""},
    };
    ASSERT_EQ(3, count);
    for (const Control& want : expected) {
        in.AlignTo4();
        in.Read<DWORD>();  // help id
        const DWORD exStyle = in.Read<DWORD>(), style = in.Read<DWORD>();
        const short cx0 = in.Read<short>(), cy0 = in.Read<short>(), w = in.Read<short>(), h = in.Read<short>();
        const DWORD id = in.Read<DWORD>();
        const std::wstring className = in.NameOrOrdinal();
        const std::wstring text = in.NameOrOrdinal();
        in.Read<BYTE>(), in.Read<BYTE>();  // no creation data
        EXPECT_EQ(want.id, id);
        EXPECT_EQ(want.exStyle, exStyle) << "control " << id;
        EXPECT_EQ(want.style, style) << "control " << id;
        EXPECT_EQ(want.x, cx0) << "control " << id;
        EXPECT_EQ(want.y, cy0) << "control " << id;
        EXPECT_EQ(want.cx, w) << "control " << id;
        EXPECT_EQ(want.cy, h) << "control " << id;
        EXPECT_TRUE(SameClass(want, className)) << "control " << id << " has class " << WideToUtf8(className);
        EXPECT_EQ(L"", text) << "control " << id;
    }
    EXPECT_FALSE(in.Overrun());
}

TEST_F(ShippedProgram, IconGroupHoldsSixImagesTheLargestAsPng) {
    const auto group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP_ICON));
    ASSERT_GE(group.size(), 6u);
    Reader in(group.data(), group.size());
    in.Read<WORD>();
    EXPECT_EQ(1, in.Read<WORD>()) << "icon type";
    const WORD count = in.Read<WORD>();
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const BYTE width = in.Read<BYTE>(), height = in.Read<BYTE>();
        in.Read<BYTE>(), in.Read<BYTE>(), in.Read<WORD>();
        const WORD bits = in.Read<WORD>();
        in.Read<DWORD>();
        const WORD id = in.Read<WORD>();
        const int size = width == 0 ? 256 : width;
        EXPECT_EQ(width, height);
        EXPECT_EQ(32, bits) << size;
        sizes.push_back(size);
        const auto image = Resource(RT_ICON, MAKEINTRESOURCEW(id));
        ASSERT_GE(image.size(), 8u);
        const bool png = std::memcmp(image.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
        EXPECT_EQ(size == 256, png) << size << " pixels";
    }
    EXPECT_EQ((std::vector<int>{16, 32, 48, 64, 128, 256}), sizes);
    EXPECT_NE(nullptr, LoadImageW(m_module, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON, 48, 48, 0));
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return L"?";
    return value;
}

TEST_F(ShippedProgram, VersionResourceNamesTheProduct) {
    const DWORD size = GetFileVersionInfoSizeW(QV_INSTALLER_EXE, nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(QV_INSTALLER_EXE, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(QV_FILE_VERSION_MINOR, QV_FILE_VERSION_MAJOR), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(QV_FILE_VERSION_BUILD, QV_FILE_VERSION_PATCH), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(QV_PRODUCT_VERSION_MINOR, QV_PRODUCT_VERSION_MAJOR), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(QV_PRODUCT_VERSION_BUILD, QV_PRODUCT_VERSION_PATCH), fixed->dwProductVersionLS);
    EXPECT_EQ(Utf8ToWide(QV_FILE_VERSION_TEXT), VersionString(block, L"FileVersion"));
    EXPECT_EQ(Utf8ToWide(QV_PRODUCT_VERSION_TEXT), VersionString(block, L"ProductVersion"));
    const auto manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_NE(std::string::npos,
              std::string(manifest.begin(), manifest.end()).find("version=\"" QV_FILE_VERSION_TEXT "\""));
    EXPECT_EQ(L"QuorVel Installer", VersionString(block, L"FileDescription"));
    EXPECT_EQ(L"QuorVel Installer", VersionString(block, L"InternalName"));
    EXPECT_EQ(L"QuorVel", VersionString(block, L"ProductName"));
    EXPECT_EQ(L"QuorVel Software Inc.", VersionString(block, L"CompanyName"));
    EXPECT_NE(L"?", VersionString(block, L"LegalCopyright"));
}

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(ShippedProgram, ManifestAsksForAdministratorRightsAndKeepsTheClassicControls) {
    int manifests = 0;
    EnumResourceNamesW(m_module, RT_MANIFEST, CountName, reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(1, manifests);
    const auto bytes = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\"")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\"")) << manifest;
    EXPECT_EQ(std::string::npos, manifest.find("Common-Controls")) << manifest;
    // Sharp at any scaling: per-monitor v2 where Windows knows it, system aware before.
    EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find(">PerMonitorV2, System</dpiAwareness>")) << manifest;
}

}  // namespace
