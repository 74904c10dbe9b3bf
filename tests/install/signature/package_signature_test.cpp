// The package signature check over packages signed by scripts/sign-package, changed byte by byte:
// natively with libcrypto, and under Wine with the system's CNG.
#include "install/signature/package_signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

#include "install/signature/package_keys.h"

namespace {

std::string TestData() {
    const char* folder = std::getenv("QV_SIGNATURE_TEST_DATA");
    return folder ? folder : "";
}

std::string ReadPackage(const std::string& name) {
    std::ifstream file(TestData() + "/" + name, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << "missing test package " << name << " in " << TestData();
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

unsigned ReadU16(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1]))
                                                       << 8;
}

std::size_t EndRecordAt(const std::string& bytes) { return bytes.rfind("PK\x05\x06"); }

std::size_t DirectoryAt(const std::string& bytes) {
    const std::size_t end = EndRecordAt(bytes);
    return ReadU16(bytes, end + 16) | static_cast<std::size_t>(ReadU16(bytes, end + 18)) << 16;
}

// The first entry's data: after its local header, name and extra field.
std::size_t FirstEntryDataAt(const std::string& bytes) { return 30 + ReadU16(bytes, 26) + ReadU16(bytes, 28); }

void FlipBit(std::string& bytes, std::size_t at) { bytes[at] = static_cast<char>(bytes[at] ^ 0x10); }

// What make_signed_packages.py signs every package as: the 64-bit build, version 10.22.0.0, at
// this time.
constexpr std::uint64_t kSignedAt = 1765000000;
const PackageRequirements kMet{PackageBuild::X64, {10, 22, 0, 0}, kSignedAt};

PackageVerification Verify(const std::string& bytes, const PackageRequirements& requirements = kMet,
                           const std::function<bool()>& cancelled = {}) {
    std::istringstream package(bytes);
    return VerifyPackage(package, CompiledPackageKeys(), requirements, *MakeSignatureCrypto(), cancelled);
}

// The block's first byte: the signature block is the last kSignatureBlockSize bytes.
std::size_t BlockAt(const std::string& bytes) { return bytes.size() - kSignatureBlockSize; }

std::string KeyIdText(std::size_t index) {
    std::string failure;
    const auto id = KeyIdOf(CompiledPackageKeys().at(index), *MakeSignatureCrypto(), failure);
    return id ? HexText(id->data(), id->size()) : failure;
}

struct Case {
    const char* what;
    const char* package;
    std::function<void(std::string&)> change;
    PackageVerdict verdict;
    std::string reason;  // a part of the reason
    PackageRequirements requirements = kMet;
};

TEST(PackageSignature, AcceptsOnlyTheUnchangedPackageSignedByAConfiguredKey) {
    ASSERT_EQ(2u, CompiledPackageKeys().size()) << "the test program carries the current and the next key";
    const auto unchanged = [](std::string&) {};
    const std::string mismatch = "does not match the package's contents";
    const std::string noSignature = "carries no signature";
    const std::string key0 = "(signed with key " + KeyIdText(0) + ")";
    const Case cases[] = {
        {"good signature", "current.zip", unchanged, PackageVerdict::Authentic, "key " + KeyIdText(0)},
        {"either build accepted", "current.zip", unchanged, PackageVerdict::Authentic, "key ", {}},
        {"the other build",
         "current.zip",
         unchanged,
         PackageVerdict::NotAuthentic,
         "the package is signed for the 64-bit build, but this installation needs the 32-bit build " + key0,
         {PackageBuild::X86, {10, 22, 0, 0}, {}}},
        {"a version below the minimum",
         "current.zip",
         unchanged,
         PackageVerdict::NotAuthentic,
         "the package's version 10.22.0.0 is older than 10.22.0.1, the oldest this program accepts",
         {PackageBuild::X64, {10, 22, 0, 1}, {}}},
        {"minimum compared number by number",
         "current.zip",
         unchanged,
         PackageVerdict::Authentic,
         "key ",
         {PackageBuild::X64, {10, 9, 65535, 65535}, {}}},
        {"signed too long ago",
         "current.zip",
         unchanged,
         PackageVerdict::NotAuthentic,
         "the package was signed 2025-12-06 05:46:40 UTC, before 2025-12-06 05:46:41 UTC, the earliest",
         {PackageBuild::X64, {}, kSignedAt + 1}},
        {"format 1", "current.zip", [](std::string& b) { b[BlockAt(b) + 4] = 1; }, PackageVerdict::NotAuthentic,
         "has format 1, which names neither the build nor the version"},
        {"the header's version changed after signing", "current.zip", [](std::string& b) { b[BlockAt(b) + 8] = 23; },
         PackageVerdict::NotAuthentic, mismatch},
        {"the header's build changed after signing",
         "current.zip",
         [](std::string& b) { b[BlockAt(b) + 6] = 1; },
         PackageVerdict::NotAuthentic,
         mismatch,
         {}},
        {"the header's time changed after signing", "current.zip", [](std::string& b) { FlipBit(b, BlockAt(b) + 20); },
         PackageVerdict::NotAuthentic, mismatch},
        {"an unknown build", "current.zip", [](std::string& b) { b[BlockAt(b) + 6] = 3; }, PackageVerdict::NotAuthentic,
         "unknown build (3)"},
        {"signed by the other configured key", "next.zip", unchanged, PackageVerdict::Authentic, "key " + KeyIdText(1)},
        {"signed by an unknown key", "unknown.zip", unchanged, PackageVerdict::NotAuthentic, "unknown key"},
        {"no comment", "unsigned.zip", unchanged, PackageVerdict::NotAuthentic,
         noSignature + " (its archive comment is empty)"},
        {"a comment that is no signature block", "commented.zip", unchanged, PackageVerdict::NotAuthentic,
         "not a signature block"},
        {"a bit flipped in an entry", "current.zip", [](std::string& b) { FlipBit(b, FirstEntryDataAt(b) + 5); },
         PackageVerdict::NotAuthentic, mismatch},
        {"a bit flipped in a local header", "current.zip", [](std::string& b) { FlipBit(b, 14); },
         PackageVerdict::NotAuthentic, mismatch},
        {"a bit flipped in the directory", "current.zip", [](std::string& b) { FlipBit(b, DirectoryAt(b) + 16); },
         PackageVerdict::NotAuthentic, mismatch},
        {"a bit flipped in the end record", "current.zip", [](std::string& b) { FlipBit(b, EndRecordAt(b) + 10); },
         PackageVerdict::NotAuthentic, mismatch},
        {"a bit flipped in the signature", "current.zip", [](std::string& b) { FlipBit(b, b.size() - 1); },
         PackageVerdict::NotAuthentic, mismatch},
        {"a bit flipped in the key id", "current.zip", [](std::string& b) { FlipBit(b, b.size() - 64 - 8); },
         PackageVerdict::NotAuthentic, "unknown key"},
        {"an unknown block format", "current.zip", [](std::string& b) { b[BlockAt(b) + 4] = 3; },
         PackageVerdict::NotAuthentic, "format 3, algorithm 1; this program reads format 2"},
        {"bytes appended", "current.zip", [](std::string& b) { b += "appended"; }, PackageVerdict::NotAuthentic,
         "(8 bytes follow it)"},
        {"a second end record with the signature appended", "current.zip",
         [](std::string& b) { b += b.substr(EndRecordAt(b)); }, PackageVerdict::NotAuthentic, mismatch},
        {"a second end record without comment appended", "current.zip",
         [](std::string& b) { b += b.substr(EndRecordAt(b), 20) + std::string(2, '\0'); }, PackageVerdict::NotAuthentic,
         noSignature},
        {"the signature cut short", "current.zip", [](std::string& b) { b.pop_back(); }, PackageVerdict::NotAuthentic,
         "not a ZIP archive"},
        {"not a ZIP archive", "current.zip", [](std::string& b) { b.assign(4096, 'x'); }, PackageVerdict::NotAuthentic,
         "not a ZIP archive"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        std::string bytes = ReadPackage(test.package);
        ASSERT_FALSE(bytes.empty());
        test.change(bytes);
        const PackageVerification seen = Verify(bytes, test.requirements);
        EXPECT_EQ(static_cast<int>(test.verdict), static_cast<int>(seen.verdict)) << "reason: " << seen.reason;
        EXPECT_NE(std::string::npos, seen.reason.find(test.reason))
            << "expected the reason to hold \"" << test.reason << "\", seen \"" << seen.reason << "\"";
    }
}

TEST(PackageSignature, AskedToCancelItStopsBeforeTheVerdict) {
    int asked = 0;
    const PackageVerification seen = Verify(ReadPackage("current.zip"), kMet, [&asked] { return ++asked > 0; });
    EXPECT_EQ(static_cast<int>(PackageVerdict::Cancelled), static_cast<int>(seen.verdict));
    EXPECT_EQ(1, asked);
}

}  // namespace
