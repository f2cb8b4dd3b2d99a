// Binding the decoding library: success, every failure path, and the global binding.
#include "decoder/OggWuvorbisLib.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

std::string MissingMessage(const std::string& path) {
    return "wuvorbis.dllが存在しません。\r\n(" + path + ")";
}

std::string NoCrosslapPath() { return test::ExecutableDir() + "/libwuvorbis_nocrosslap.so"; }

// Where the dynamic loader finds the system's libvorbisfile, which exports only ov_* names.
std::string SystemVorbisfilePath() {
    void* handle = dlopen("libvorbisfile.so.3", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return {};
    link_map* map = nullptr;
    std::string path;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) path = map->l_name;
    dlclose(handle);
    return path;
}

TEST(VorbisFileDLL, LoadsTheLibraryAndReportsItsFullPath) {
    TVorbisFileDLL binding(true);
    ASSERT_TRUE(binding.LoadDLL(test::WuvorbisPath()));
    EXPECT_TRUE(binding.Usable());
    EXPECT_EQ(binding.DLLName(), test::WuvorbisPath());
    const ov_callbacks& callbacks = binding.Callbacks();
    EXPECT_EQ(callbacks.read_func, &StreamRead);
    EXPECT_EQ(callbacks.seek_func, &StreamSeek);
    EXPECT_EQ(callbacks.close_func, &StreamClose);
    EXPECT_EQ(callbacks.tell_func, &StreamTell);
}

TEST(VorbisFileDLL, LinkedBindingDecodesWithoutALibraryFileAndReplacesALoadedOne) {
    TVorbisFileDLL binding(true);
    ASSERT_TRUE(binding.LoadDLL(test::WuvorbisPath()));
    EXPECT_TRUE(binding.BindLinked());
    EXPECT_TRUE(binding.Usable());
    EXPECT_EQ(binding.DLLName(), "libvorbisfile (linked)");
    EXPECT_EQ(binding.DetectCPU(), 0);
    EXPECT_EQ(binding.Callbacks().read_func, &StreamRead);

    const std::vector<uint8_t> ogg = test::EncodeOgg(test::Sine(44100, 2, 0.5, 440.0));
    const test::Decoded reference = test::DecodeReference(ogg);
    OggVorbis_File file{};
    auto source = std::make_unique<MemoryStream>(ogg);
    ASSERT_EQ(binding.OpenCallbacks(source.get(), &file, nullptr, 0), 0);
    source.release();  // the decoder's now, freed by Clear
    EXPECT_EQ(binding.PcmTotal(&file, -1), reference.PcmTotal);
    std::vector<int16_t> samples(reference.Samples.size());
    int link = 0;
    size_t doneBytes = 0;
    const size_t wantBytes = samples.size() * sizeof(int16_t);
    while (doneBytes < wantBytes) {
        const int32_t got =
            binding.Read(&file, reinterpret_cast<char*>(samples.data()) + doneBytes,
                         static_cast<int32_t>(wantBytes - doneBytes), 0, 2, 1, &link);
        ASSERT_GT(got, 0);
        doneBytes += static_cast<size_t>(got);
    }
    EXPECT_EQ(samples, reference.Samples);
    EXPECT_EQ(binding.Clear(&file), 0);
}

TEST(VorbisFileDLL, RelativeNameIsLookedForInTheCurrentDirectoryOnly) {
    test::ScopedCurrentDir inBin(test::ExecutableDir());
    TVorbisFileDLL binding(false);
    ASSERT_TRUE(binding.LoadDLL("libwuvorbis.so"));
    EXPECT_EQ(binding.DLLName(), test::WuvorbisPath());

    // Elsewhere the same name is not found, even though a library of that name has just been
    // loaded by this process.
    test::TempDir empty;
    test::ScopedCurrentDir inEmpty(empty.Path());
    const std::string expected = (std::filesystem::current_path() / "libwuvorbis.so").string();
    TVorbisFileDLL other(true);
    EXPECT_THAT([&] { (void)other.LoadDLL("libwuvorbis.so"); },
                ThrowsMessage<ERangeError>(StrEq(MissingMessage(expected))));
    EXPECT_FALSE(other.Usable());
}

TEST(VorbisFileDLL, MissingLibraryNamesWuvorbisAndTheFullPathWhateverTheFileName) {
    test::TempDir dir;
    const std::string path = dir.Path() + "/some-other-name.so";
    TVorbisFileDLL binding(true);
    EXPECT_THAT([&] { (void)binding.LoadDLL(path); },
                ThrowsMessage<ERangeError>(StrEq(MissingMessage(path))));
    EXPECT_FALSE(binding.Usable());
}

TEST(VorbisFileDLL, FileThatIsNotALibraryIsReportedAsMissing) {
    test::TempDir dir;
    const std::string text = "not a shared object\n";
    const std::string path = dir.Write(
        "libwuvorbis.so", std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    TVorbisFileDLL binding(true);
    EXPECT_THAT([&] { (void)binding.LoadDLL(path); },
                ThrowsMessage<ERangeError>(StrEq(MissingMessage(path))));
    // A folder is not a library either.
    EXPECT_THAT([&] { (void)binding.LoadDLL(dir.Path()); },
                ThrowsMessage<ERangeError>(StrEq(MissingMessage(dir.Path()))));
}

TEST(VorbisFileDLL, LibraryWithoutItsLastEntryPointCannotBeBound) {
    TVorbisFileDLL binding(true);
    EXPECT_FALSE(binding.LoadDLL(NoCrosslapPath()));
    EXPECT_FALSE(binding.Usable());
    // The library stays loaded: its name is known.
    EXPECT_EQ(binding.DLLName(), NoCrosslapPath());

    // Opening through the unusable binding is refused without calling into the library, and
    // the stream stays the caller's.
    auto stream = std::make_unique<MemoryStream>(test::EncodeOgg(test::Sine(44100, 2, 0.2, 440.0)));
    OggVorbis_File vf{};
    EXPECT_LT(binding.OpenCallbacks(stream.get(), &vf, nullptr, 0), 0);
    EXPECT_EQ(stream->Position(), 0);
}

TEST(VorbisFileDLL, LibraryExportingOnlyPlainNamesCannotBeBound) {
    const std::string path = SystemVorbisfilePath();
    ASSERT_FALSE(path.empty()) << "libvorbisfile.so.3 not found by the dynamic loader";
    TVorbisFileDLL binding(true);
    EXPECT_FALSE(binding.LoadDLL(path));
    EXPECT_FALSE(binding.Usable());
}

TEST(VorbisFileDLL, ReloadingWithAnIncompleteLibraryLeavesNothingUsableBehind) {
    TVorbisFileDLL binding(true);
    ASSERT_TRUE(binding.LoadDLL(test::WuvorbisPath()));
    EXPECT_FALSE(binding.LoadDLL(NoCrosslapPath()));
    EXPECT_FALSE(binding.Usable());
    EXPECT_EQ(binding.Callbacks().read_func, nullptr);
    MemoryStream stream(test::EncodeOgg(test::Silence(44100, 2, 0.1)));
    OggVorbis_File vf{};
    EXPECT_EQ(binding.OpenCallbacks(&stream, &vf, nullptr, 0), OV_EFAULT);
}

TEST(VorbisFileDLL, GetProcRaisesTheFunctionMessageAndClearsTheOutput) {
    TVorbisFileDLL binding(true);
    ASSERT_TRUE(binding.LoadDLL(test::WuvorbisPath()));
    int (*proc)() = +[] { return 1; };
    EXPECT_THAT([&] { binding.GetProc(proc, "wu_no_such_function"); },
                ThrowsMessage<ERangeError>(StrEq("関数(wu_no_such_function)の所得に失敗しました")));
    EXPECT_EQ(proc, nullptr);

    binding.GetProc(proc, "wu_DetectCPU");
    ASSERT_NE(proc, nullptr);
    EXPECT_EQ(proc(), 0);
}

TEST(VorbisFileDLL, GetProcOnAnUnloadedBindingRaises) {
    TVorbisFileDLL binding(true);
    int (*proc)() = nullptr;
    EXPECT_THAT([&] { binding.GetProc(proc, "wu_DetectCPU"); },
                ThrowsMessage<ERangeError>(StrEq("関数(wu_DetectCPU)の所得に失敗しました")));
}

// The global binding is shared by every test of this program; each test leaves it bound.
class GlobalBinding : public testing::Test {
protected:
    void TearDown() override { ASSERT_TRUE(LoadVorbisFileDLL(test::WuvorbisPath())); }
};

TEST_F(GlobalBinding, FailedLoadReplacesAUsableBindingWithAnUnloadedOne) {
    ASSERT_TRUE(LoadVorbisFileDLL(test::WuvorbisPath()));
    ASSERT_TRUE(VorbisFileDLL->Usable());
    test::TempDir dir;
    const std::string path = dir.Path() + "/libwuvorbis.so";
    EXPECT_THAT([&] { (void)LoadVorbisFileDLL(path); },
                ThrowsMessage<ERangeError>(StrEq(MissingMessage(path))));
    ASSERT_NE(VorbisFileDLL, nullptr);
    EXPECT_FALSE(VorbisFileDLL->Usable());

    EXPECT_FALSE(LoadVorbisFileDLL(NoCrosslapPath()));
    ASSERT_NE(VorbisFileDLL, nullptr);
    EXPECT_FALSE(VorbisFileDLL->Usable());
}

TEST_F(GlobalBinding, FreeingTwiceIsHarmless) {
    FreeVorbisFileDLL();
    EXPECT_EQ(VorbisFileDLL, nullptr);
    FreeVorbisFileDLL();
    EXPECT_EQ(VorbisFileDLL, nullptr);
}

}  // namespace
}  // namespace oggmix
