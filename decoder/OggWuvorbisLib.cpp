// OggWuvorbisLib.cpp: loading the decoding library, resolving its entry points, the wrappers
// and the MemoryStream callbacks.
#include "decoder/OggWuvorbisLib.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "base/Utf8Path.h"
#include "base/platform/Platform.h"

namespace oggmix {

std::unique_ptr<TVorbisFileDLL> VorbisFileDLL;

namespace {

constexpr const char* kUnknownModuleName = "vorbisfile.dll";
constexpr const char* kLinkedName = "libvorbisfile (linked)";

std::string LibraryMissingMessage(const std::string& path) {
    return "wuvorbis.dllが存在しません。\r\n(" + path + ")";
}

MemoryStream& AsStream(void* dataSource) { return *static_cast<MemoryStream*>(dataSource); }

}  // namespace

void TVorbisFileDLL::ModuleCloser::operator()(void* handle) const noexcept {
    platform::CloseLibrary(handle);
}

TVorbisFileDLL::TVorbisFileDLL(bool AutoCPU) : FAutoCPU(AutoCPU) {}

TVorbisFileDLL::~TVorbisFileDLL() = default;

bool TVorbisFileDLL::LoadDLL(const std::string& FileName) {
    // A second load must not leave entry points of the library it replaces behind.
    FEntry = {};
    FCallbacks = {};
    FDLLName.clear();

    // Expanding the path and loading it are guarded as one: whatever fails, the caller hears
    // that the library is missing, with the path we looked at.
    std::string fullPath = FileName;
    try {
        fullPath =
            Utf8FromPath(std::filesystem::absolute(PathFromUtf8(FileName)).lexically_normal());
        FHandle.reset(platform::OpenLibrary(fullPath));
    } catch (const std::exception&) {
        FHandle.reset();
    }
    if (!FHandle) throw ERangeError(LibraryMissingMessage(fullPath));

    FDLLName = platform::LibraryPath(FHandle.get());
    if (FDLLName.empty()) FDLLName = kUnknownModuleName;

    try {
        GetProc(FEntry.wu_SetCPUType, "wu_SetCPUType");
        GetProc(FEntry.wu_DetectCPU, "wu_DetectCPU");
        GetProc(FEntry.wu_ScaleOutput, "wu_ScaleOutput");
        GetProc(FEntry.wu_ov_info, "wu_ov_info");
        GetProc(FEntry.wu_ov_clear, "wu_ov_clear");
        GetProc(FEntry.wu_ov_open_callbacks, "wu_ov_open_callbacks");
        GetProc(FEntry.wu_ov_test_callbacks, "wu_ov_test_callbacks");
        GetProc(FEntry.wu_ov_test_open, "wu_ov_test_open");
        GetProc(FEntry.wu_ov_bitrate, "wu_ov_bitrate");
        GetProc(FEntry.wu_ov_bitrate_instant, "wu_ov_bitrate_instant");
        GetProc(FEntry.wu_ov_streams, "wu_ov_streams");
        GetProc(FEntry.wu_ov_serialnumber, "wu_ov_serialnumber");
        GetProc(FEntry.wu_ov_seekable, "wu_ov_seekable");
        GetProc(FEntry.wu_ov_raw_total, "wu_ov_raw_total");
        GetProc(FEntry.wu_ov_time_total, "wu_ov_time_total");
        GetProc(FEntry.wu_ov_pcm_total, "wu_ov_pcm_total");
        GetProc(FEntry.wu_ov_raw_seek, "wu_ov_raw_seek");
        GetProc(FEntry.wu_ov_pcm_seek, "wu_ov_pcm_seek");
        GetProc(FEntry.wu_ov_pcm_seek_page, "wu_ov_pcm_seek_page");
        GetProc(FEntry.wu_ov_time_seek, "wu_ov_time_seek");
        GetProc(FEntry.wu_ov_time_seek_page, "wu_ov_time_seek_page");
        GetProc(FEntry.wu_ov_raw_seek_lap, "wu_ov_raw_seek_lap");
        GetProc(FEntry.wu_ov_pcm_seek_lap, "wu_ov_pcm_seek_lap");
        GetProc(FEntry.wu_ov_pcm_seek_page_lap, "wu_ov_pcm_seek_page_lap");
        GetProc(FEntry.wu_ov_time_seek_lap, "wu_ov_time_seek_lap");
        GetProc(FEntry.wu_ov_time_seek_page_lap, "wu_ov_time_seek_page_lap");
        GetProc(FEntry.wu_ov_raw_tell, "wu_ov_raw_tell");
        GetProc(FEntry.wu_ov_pcm_tell, "wu_ov_pcm_tell");
        GetProc(FEntry.wu_ov_time_tell, "wu_ov_time_tell");
        GetProc(FEntry.wu_ov_comment, "wu_ov_comment");
        GetProc(FEntry.wu_ov_read_float, "wu_ov_read_float");
        GetProc(FEntry.wu_ov_read, "wu_ov_read");
        GetProc(FEntry.wu_ov_crosslap, "wu_ov_crosslap");
    } catch (const ERangeError&) {
        // A library that lacks any one entry point is not ours; it stays loaded but unusable.
        return false;
    }

    SetStreamCallbacks();
    if (FAutoCPU) SetCPUType(DetectCPU());
    return true;
}

bool TVorbisFileDLL::BindLinked() noexcept {
    FHandle.reset();
    FDLLName = kLinkedName;
    // The processor-type entry points have nothing to choose between, as in libwuvorbis.so.
    FEntry = {
        .wu_SetCPUType = [](int) {},
        .wu_DetectCPU = [] { return 0; },
        .wu_ScaleOutput = [](int) {},
        .wu_ov_info = ov_info,
        .wu_ov_clear = ov_clear,
        .wu_ov_open_callbacks = ov_open_callbacks,
        .wu_ov_test_callbacks = ov_test_callbacks,
        .wu_ov_test_open = ov_test_open,
        .wu_ov_bitrate = ov_bitrate,
        .wu_ov_bitrate_instant = ov_bitrate_instant,
        .wu_ov_streams = ov_streams,
        .wu_ov_serialnumber = ov_serialnumber,
        .wu_ov_seekable = ov_seekable,
        .wu_ov_raw_total = ov_raw_total,
        .wu_ov_time_total = ov_time_total,
        .wu_ov_pcm_total = ov_pcm_total,
        .wu_ov_raw_seek = ov_raw_seek,
        .wu_ov_pcm_seek = ov_pcm_seek,
        .wu_ov_pcm_seek_page = ov_pcm_seek_page,
        .wu_ov_time_seek = ov_time_seek,
        .wu_ov_time_seek_page = ov_time_seek_page,
        .wu_ov_raw_seek_lap = ov_raw_seek_lap,
        .wu_ov_pcm_seek_lap = ov_pcm_seek_lap,
        .wu_ov_pcm_seek_page_lap = ov_pcm_seek_page_lap,
        .wu_ov_time_seek_lap = ov_time_seek_lap,
        .wu_ov_time_seek_page_lap = ov_time_seek_page_lap,
        .wu_ov_raw_tell = ov_raw_tell,
        .wu_ov_pcm_tell = ov_pcm_tell,
        .wu_ov_time_tell = ov_time_tell,
        .wu_ov_comment = ov_comment,
        .wu_ov_read_float = ov_read_float,
        .wu_ov_read = ov_read,
        .wu_ov_crosslap = ov_crosslap,
    };
    SetStreamCallbacks();
    if (FAutoCPU) SetCPUType(DetectCPU());
    return true;
}

void TVorbisFileDLL::SetStreamCallbacks() noexcept {
    FCallbacks.read_func = StreamRead;
    FCallbacks.seek_func = StreamSeek;
    FCallbacks.close_func = StreamClose;
    FCallbacks.tell_func = StreamTell;
}

void* TVorbisFileDLL::FindSymbol(const char* Name) {
    void* address = FHandle ? platform::LibrarySymbol(FHandle.get(), Name) : nullptr;
    if (address == nullptr)
        throw ERangeError(std::string("関数(") + Name + ")の所得に失敗しました");
    return address;
}

int32_t TVorbisFileDLL::OpenCallbacks(void* DataSource, OggVorbis_File* vf, const char* Initial,
                                      int32_t IBytes) noexcept {
    if (!FEntry.wu_ov_open_callbacks || !Usable()) return OV_EFAULT;
    return FEntry.wu_ov_open_callbacks(DataSource, vf, Initial, IBytes, FCallbacks);
}

int32_t TVorbisFileDLL::Clear(OggVorbis_File* vf) noexcept {
    return FEntry.wu_ov_clear ? FEntry.wu_ov_clear(vf) : OV_EFAULT;
}

vorbis_info* TVorbisFileDLL::Info(OggVorbis_File* vf, int32_t Link) noexcept {
    return FEntry.wu_ov_info ? FEntry.wu_ov_info(vf, Link) : nullptr;
}

vorbis_comment* TVorbisFileDLL::Comment(OggVorbis_File* vf, int32_t Link) noexcept {
    return FEntry.wu_ov_comment ? FEntry.wu_ov_comment(vf, Link) : nullptr;
}

int64_t TVorbisFileDLL::PcmTotal(OggVorbis_File* vf, int32_t Link) noexcept {
    return FEntry.wu_ov_pcm_total ? FEntry.wu_ov_pcm_total(vf, Link) : OV_EFAULT;
}

double TVorbisFileDLL::TimeTotal(OggVorbis_File* vf, int32_t Link) noexcept {
    return FEntry.wu_ov_time_total ? FEntry.wu_ov_time_total(vf, Link) : OV_EFAULT;
}

int32_t TVorbisFileDLL::Seekable(OggVorbis_File* vf) noexcept {
    return FEntry.wu_ov_seekable ? static_cast<int32_t>(FEntry.wu_ov_seekable(vf) != 0) : 0;
}

int32_t TVorbisFileDLL::TimeSeek(OggVorbis_File* vf, double PosSec) noexcept {
    return FEntry.wu_ov_time_seek ? FEntry.wu_ov_time_seek(vf, PosSec) : OV_EFAULT;
}

double TVorbisFileDLL::TimeTell(OggVorbis_File* vf) noexcept {
    return FEntry.wu_ov_time_tell ? FEntry.wu_ov_time_tell(vf) : OV_EFAULT;
}

int32_t TVorbisFileDLL::PcmSeek(OggVorbis_File* vf, int64_t PosSamples) noexcept {
    return FEntry.wu_ov_pcm_seek ? FEntry.wu_ov_pcm_seek(vf, PosSamples) : OV_EFAULT;
}

int64_t TVorbisFileDLL::PcmTell(OggVorbis_File* vf) noexcept {
    return FEntry.wu_ov_pcm_tell ? FEntry.wu_ov_pcm_tell(vf) : OV_EFAULT;
}

int32_t TVorbisFileDLL::Read(OggVorbis_File* vf, void* Buffer, int32_t Length, int32_t BigEndianP,
                             int32_t Word, int32_t Sgned, int32_t* BitStream) noexcept {
    if (!FEntry.wu_ov_read) return OV_EFAULT;
    // ov_read never returns more than Length, so the result fits in 32 bits.
    return static_cast<int32_t>(FEntry.wu_ov_read(vf, static_cast<char*>(Buffer), Length,
                                                  BigEndianP, Word, Sgned, BitStream));
}

int32_t TVorbisFileDLL::DetectCPU() noexcept {
    return FEntry.wu_DetectCPU ? FEntry.wu_DetectCPU() : 0;
}

void TVorbisFileDLL::SetCPUType(int32_t CPUType) noexcept {
    if (FEntry.wu_SetCPUType) FEntry.wu_SetCPUType(CPUType);
}

bool LoadVorbisFileDLL(const std::string& FileName) {
    FreeVorbisFileDLL();
    VorbisFileDLL = std::make_unique<TVorbisFileDLL>(true);
    return VorbisFileDLL->LoadDLL(FileName);
}

void FreeVorbisFileDLL() { VorbisFileDLL.reset(); }

size_t StreamRead(void* Dest, size_t ItemBytes, size_t ItemCount, void* DataSource) noexcept {
    if (ItemBytes == 0 || ItemCount == 0) return 0;
    // The library reads with an item size of 1, so bytes and items agree; a request beyond
    // 32 bits is cut to what a stream position can address.
    const size_t wanted = ItemCount > std::numeric_limits<int32_t>::max() / ItemBytes
                              ? static_cast<size_t>(std::numeric_limits<int32_t>::max())
                              : ItemBytes * ItemCount;
    const int32_t got = AsStream(DataSource).Read(Dest, static_cast<int32_t>(wanted));
    return static_cast<size_t>(std::max<int32_t>(got, 0));
}

int StreamSeek(void* DataSource, ogg_int64_t OffsetBytes, int Origin) noexcept {
    // Stream positions are 32-bit: only the low 32 bits of the offset reach the stream.
    const auto low32 = static_cast<int32_t>(static_cast<uint32_t>(OffsetBytes & 0xFFFFFFFF));
    return AsStream(DataSource).Seek(low32, static_cast<uint16_t>(Origin));
}

int StreamClose(void* DataSource) noexcept {
    // The decoder owns the stream from a successful open on; closing it is its end.
    std::unique_ptr<MemoryStream> owned(static_cast<MemoryStream*>(DataSource));
    return 0;
}

long StreamTell(void* DataSource) noexcept { return AsStream(DataSource).Position(); }

}  // namespace oggmix
