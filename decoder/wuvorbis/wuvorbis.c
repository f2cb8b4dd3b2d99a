/* wuvorbis.c: the project's decoding library. It exports the libvorbisfile functions under
 * the prefix wu_ and forwards every call unchanged; the three processor-type entry points have
 * nothing to choose between here, so they accept anything and report type 0.
 * Built twice: libwuvorbis.so with all 33 entry points, and, for tests, a variant compiled with
 * WUVORBIS_OMIT_CROSSLAP that lacks the last one. */
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#define WU_EXPORT __attribute__((visibility("default")))

WU_EXPORT void wu_SetCPUType(int cpuType) { (void)cpuType; }
WU_EXPORT int wu_DetectCPU(void) { return 0; }
WU_EXPORT void wu_ScaleOutput(int scale) { (void)scale; }

WU_EXPORT vorbis_info *wu_ov_info(OggVorbis_File *vf, int link) { return ov_info(vf, link); }
WU_EXPORT int wu_ov_clear(OggVorbis_File *vf) { return ov_clear(vf); }
WU_EXPORT int wu_ov_open_callbacks(void *datasource, OggVorbis_File *vf, const char *initial,
                                   long ibytes, ov_callbacks callbacks) {
    return ov_open_callbacks(datasource, vf, initial, ibytes, callbacks);
}
WU_EXPORT int wu_ov_test_callbacks(void *datasource, OggVorbis_File *vf, const char *initial,
                                   long ibytes, ov_callbacks callbacks) {
    return ov_test_callbacks(datasource, vf, initial, ibytes, callbacks);
}
WU_EXPORT int wu_ov_test_open(OggVorbis_File *vf) { return ov_test_open(vf); }
WU_EXPORT long wu_ov_bitrate(OggVorbis_File *vf, int i) { return ov_bitrate(vf, i); }
WU_EXPORT long wu_ov_bitrate_instant(OggVorbis_File *vf) { return ov_bitrate_instant(vf); }
WU_EXPORT long wu_ov_streams(OggVorbis_File *vf) { return ov_streams(vf); }
WU_EXPORT long wu_ov_serialnumber(OggVorbis_File *vf, int i) { return ov_serialnumber(vf, i); }
WU_EXPORT long wu_ov_seekable(OggVorbis_File *vf) { return ov_seekable(vf); }
WU_EXPORT ogg_int64_t wu_ov_raw_total(OggVorbis_File *vf, int i) { return ov_raw_total(vf, i); }
WU_EXPORT double wu_ov_time_total(OggVorbis_File *vf, int i) { return ov_time_total(vf, i); }
WU_EXPORT ogg_int64_t wu_ov_pcm_total(OggVorbis_File *vf, int i) { return ov_pcm_total(vf, i); }
WU_EXPORT int wu_ov_raw_seek(OggVorbis_File *vf, ogg_int64_t pos) { return ov_raw_seek(vf, pos); }
WU_EXPORT int wu_ov_pcm_seek(OggVorbis_File *vf, ogg_int64_t pos) { return ov_pcm_seek(vf, pos); }
WU_EXPORT int wu_ov_pcm_seek_page(OggVorbis_File *vf, ogg_int64_t pos) {
    return ov_pcm_seek_page(vf, pos);
}
WU_EXPORT int wu_ov_time_seek(OggVorbis_File *vf, double pos) { return ov_time_seek(vf, pos); }
WU_EXPORT int wu_ov_time_seek_page(OggVorbis_File *vf, double pos) {
    return ov_time_seek_page(vf, pos);
}
WU_EXPORT int wu_ov_raw_seek_lap(OggVorbis_File *vf, ogg_int64_t pos) {
    return ov_raw_seek_lap(vf, pos);
}
WU_EXPORT int wu_ov_pcm_seek_lap(OggVorbis_File *vf, ogg_int64_t pos) {
    return ov_pcm_seek_lap(vf, pos);
}
WU_EXPORT int wu_ov_pcm_seek_page_lap(OggVorbis_File *vf, ogg_int64_t pos) {
    return ov_pcm_seek_page_lap(vf, pos);
}
WU_EXPORT int wu_ov_time_seek_lap(OggVorbis_File *vf, double pos) {
    return ov_time_seek_lap(vf, pos);
}
WU_EXPORT int wu_ov_time_seek_page_lap(OggVorbis_File *vf, double pos) {
    return ov_time_seek_page_lap(vf, pos);
}
WU_EXPORT ogg_int64_t wu_ov_raw_tell(OggVorbis_File *vf) { return ov_raw_tell(vf); }
WU_EXPORT ogg_int64_t wu_ov_pcm_tell(OggVorbis_File *vf) { return ov_pcm_tell(vf); }
WU_EXPORT double wu_ov_time_tell(OggVorbis_File *vf) { return ov_time_tell(vf); }
WU_EXPORT vorbis_comment *wu_ov_comment(OggVorbis_File *vf, int link) {
    return ov_comment(vf, link);
}
WU_EXPORT long wu_ov_read_float(OggVorbis_File *vf, float ***pcm_channels, int samples,
                                int *bitstream) {
    return ov_read_float(vf, pcm_channels, samples, bitstream);
}
WU_EXPORT long wu_ov_read(OggVorbis_File *vf, char *buffer, int length, int bigendianp, int word,
                          int sgned, int *bitstream) {
    return ov_read(vf, buffer, length, bigendianp, word, sgned, bitstream);
}
#ifndef WUVORBIS_OMIT_CROSSLAP
WU_EXPORT int wu_ov_crosslap(OggVorbis_File *vf1, OggVorbis_File *vf2) {
    return ov_crosslap(vf1, vf2);
}
#endif
