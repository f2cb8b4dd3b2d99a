#pragma once
// OggWuvorbisLib.h: the decoding library bound at run time (libwuvorbis.so, the libvorbisfile
// functions under the prefix wu_) or to the libvorbisfile linked into oggmix, its wrappers,
// and the four stream callbacks through which it reads compressed data out of a MemoryStream.
// Threads: LoadVorbisFileDLL/FreeVorbisFileDLL on the UI thread while no stream is open; the
//          wrappers from any thread, never two at once for one decoder state (each stream
//          serialises its own with its lock).
// Locks:   none.
// Memory:  LoadDLL allocates; the wrappers do not (the library may).
// Errors:  a missing library or entry point is an ERangeError with the fixed texts; the
//          wrappers pass the library's results through unchanged. A wrapper whose entry point
//          was never resolved does not call it: it returns OV_EFAULT (null for Info and
//          Comment, 0 for Seekable and DetectCPU).

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace oggmix {

class TVorbisFileDLL {
public:
    // AutoCPU: when true, a successful load ends with SetCPUType(DetectCPU()).
    explicit TVorbisFileDLL(bool AutoCPU);
    virtual ~TVorbisFileDLL();  // unloads the library
    TVorbisFileDLL(const TVorbisFileDLL&) = delete;
    TVorbisFileDLL& operator=(const TVorbisFileDLL&) = delete;

    // Loads FileName (expanded against the current directory) and resolves the 33 entry
    // points. Throws ERangeError "wuvorbis.dllが存在しません。\r\n(<full path>)" when the library
    // cannot be loaded; returns false, with the library still loaded, when an entry point is
    // missing; true when the binding is usable.
    [[nodiscard]] bool LoadDLL(const std::string& FileName);
    // Binds the entry points to the libvorbisfile linked into oggmix, as libwuvorbis.so would
    // (the processor-type entry points accept anything and report type 0); no file is looked
    // for or loaded. Drops a library loaded before. Always true.
    bool BindLinked() noexcept;

    // Looks Name up in the loaded library into Proc; throws ERangeError
    // "関数(<Name>)の所得に失敗しました" when it is not there (Proc is then null).
    template <class Fn>
    void GetProc(Fn*& Proc, const char* Name) {
        Proc = nullptr;
        Proc = reinterpret_cast<Fn*>(FindSymbol(Name));
    }

    // Full path of the loaded library, or "vorbisfile.dll" when the platform cannot say;
    // "libvorbisfile (linked)" after BindLinked.
    [[nodiscard]] const std::string& DLLName() const noexcept { return FDLLName; }
    // True once LoadDLL has resolved every entry point.
    [[nodiscard]] bool Usable() const noexcept { return FCallbacks.read_func != nullptr; }
    [[nodiscard]] const ov_callbacks& Callbacks() const noexcept { return FCallbacks; }

    // Wrappers: the arguments go to the entry point unchanged and in order.
    [[nodiscard]] int32_t OpenCallbacks(void* DataSource, OggVorbis_File* vf, const char* Initial,
                                        int32_t IBytes) noexcept;
    int32_t Clear(OggVorbis_File* vf) noexcept;
    [[nodiscard]] vorbis_info* Info(OggVorbis_File* vf, int32_t Link) noexcept;
    [[nodiscard]] vorbis_comment* Comment(OggVorbis_File* vf, int32_t Link) noexcept;
    [[nodiscard]] int64_t PcmTotal(OggVorbis_File* vf, int32_t Link) noexcept;  // samples
    [[nodiscard]] double TimeTotal(OggVorbis_File* vf, int32_t Link) noexcept;  // seconds
    [[nodiscard]] int32_t Seekable(OggVorbis_File* vf) noexcept;                // nonzero: yes
    int32_t TimeSeek(OggVorbis_File* vf, double PosSec) noexcept;               // 0: success
    [[nodiscard]] double TimeTell(OggVorbis_File* vf) noexcept;                 // seconds
    // Exact to the sample: the next Read starts at sample PosSamples of the whole stream.
    int32_t PcmSeek(OggVorbis_File* vf, int64_t PosSamples) noexcept;  // 0: success
    [[nodiscard]] int64_t PcmTell(OggVorbis_File* vf) noexcept;        // the next sample Read gives
    // >0 bytes written (at most Length), 0 end of stream, <0 error.
    [[nodiscard]] int32_t Read(OggVorbis_File* vf, void* Buffer, int32_t Length, int32_t BigEndianP,
                               int32_t Word, int32_t Sgned, int32_t* BitStream) noexcept;
    [[nodiscard]] int32_t DetectCPU() noexcept;
    void SetCPUType(int32_t CPUType) noexcept;

private:
    void* FindSymbol(const char* Name);  // throws ERangeError when missing
    void SetStreamCallbacks() noexcept;

    struct ModuleCloser {
        void operator()(void* handle) const noexcept;
    };

    std::unique_ptr<void, ModuleCloser> FHandle;
    std::string FDLLName;
    bool FAutoCPU;

    // The entry points, in the library's table order; all null until loaded. Kept in one
    // record so that a new load starts from nothing.
    struct EntryPoints {
        void (*wu_SetCPUType)(int) = nullptr;
        int (*wu_DetectCPU)() = nullptr;
        void (*wu_ScaleOutput)(int) = nullptr;
        vorbis_info* (*wu_ov_info)(OggVorbis_File*, int) = nullptr;
        int (*wu_ov_clear)(OggVorbis_File*) = nullptr;
        using OpenFn = int (*)(void*, OggVorbis_File*, const char*, long, ov_callbacks);
        OpenFn wu_ov_open_callbacks = nullptr;
        OpenFn wu_ov_test_callbacks = nullptr;
        int (*wu_ov_test_open)(OggVorbis_File*) = nullptr;
        long (*wu_ov_bitrate)(OggVorbis_File*, int) = nullptr;
        long (*wu_ov_bitrate_instant)(OggVorbis_File*) = nullptr;
        long (*wu_ov_streams)(OggVorbis_File*) = nullptr;
        long (*wu_ov_serialnumber)(OggVorbis_File*, int) = nullptr;
        long (*wu_ov_seekable)(OggVorbis_File*) = nullptr;
        ogg_int64_t (*wu_ov_raw_total)(OggVorbis_File*, int) = nullptr;
        double (*wu_ov_time_total)(OggVorbis_File*, int) = nullptr;
        ogg_int64_t (*wu_ov_pcm_total)(OggVorbis_File*, int) = nullptr;
        int (*wu_ov_raw_seek)(OggVorbis_File*, ogg_int64_t) = nullptr;
        int (*wu_ov_pcm_seek)(OggVorbis_File*, ogg_int64_t) = nullptr;
        int (*wu_ov_pcm_seek_page)(OggVorbis_File*, ogg_int64_t) = nullptr;
        int (*wu_ov_time_seek)(OggVorbis_File*, double) = nullptr;
        int (*wu_ov_time_seek_page)(OggVorbis_File*, double) = nullptr;
        int (*wu_ov_raw_seek_lap)(OggVorbis_File*, ogg_int64_t) = nullptr;
        int (*wu_ov_pcm_seek_lap)(OggVorbis_File*, ogg_int64_t) = nullptr;
        int (*wu_ov_pcm_seek_page_lap)(OggVorbis_File*, ogg_int64_t) = nullptr;
        int (*wu_ov_time_seek_lap)(OggVorbis_File*, double) = nullptr;
        int (*wu_ov_time_seek_page_lap)(OggVorbis_File*, double) = nullptr;
        ogg_int64_t (*wu_ov_raw_tell)(OggVorbis_File*) = nullptr;
        ogg_int64_t (*wu_ov_pcm_tell)(OggVorbis_File*) = nullptr;
        double (*wu_ov_time_tell)(OggVorbis_File*) = nullptr;
        vorbis_comment* (*wu_ov_comment)(OggVorbis_File*, int) = nullptr;
        long (*wu_ov_read_float)(OggVorbis_File*, float***, int, int*) = nullptr;
        long (*wu_ov_read)(OggVorbis_File*, char*, int, int, int, int, int*) = nullptr;
        int (*wu_ov_crosslap)(OggVorbis_File*, OggVorbis_File*) = nullptr;
    };
    EntryPoints FEntry{};

    ov_callbacks FCallbacks{};  // read, seek, close, tell; filled by a successful load
};

// The one binding of the process, or null. Set before the first stream opens; kept until the
// last stream has been cleared.
extern std::unique_ptr<TVorbisFileDLL> VorbisFileDLL;

// Replaces VorbisFileDLL with a new binding (AutoCPU true) and returns its LoadDLL result.
// An exception from LoadDLL passes through; VorbisFileDLL then holds the unloaded object.
[[nodiscard]] bool LoadVorbisFileDLL(const std::string& FileName);
// Frees VorbisFileDLL (null is fine) and sets it to null.
void FreeVorbisFileDLL();

// The stream callbacks over a MemoryStream handed to OpenCallbacks as the data source.
// Read: bytes read, 0 for an item size or count of 0 (stream untouched).
// Seek: the low 32 bits of the offset, origin 0/1/2; the new position, or -1.
// Close: frees the MemoryStream; 0. Tell: the position.
size_t StreamRead(void* Dest, size_t ItemBytes, size_t ItemCount, void* DataSource) noexcept;
int StreamSeek(void* DataSource, ogg_int64_t OffsetBytes, int Origin) noexcept;
int StreamClose(void* DataSource) noexcept;
long StreamTell(void* DataSource) noexcept;

}  // namespace oggmix
