// The raw decoder library's unpacking of one raw, in a module of its own (libcw_rawdecoder.so)
// that raw_verify.cpp loads the first time a raw is verified: the library and what it stands
// on (its colour and parallel runtimes) would otherwise be loaded and relocated at every start
// of the program, a millisecond and a half for a command that verifies no raw.
#pragma once

#include <cstddef>

// The module's file name, looked for where program_module_path says.
inline constexpr const char* kRawDecoderModule = "libcw_rawdecoder.so";

// What cw_unpack_raw found: the values of RawVerdict.
enum : int { kRawUnpackSound = 0, kRawUnpackCorrupt = 1, kRawUnpackUnknown = 2 };

extern "C" {
// Unpacks the image data of the raw at `path`: kRawUnpackSound when it unpacks without a word,
// kRawUnpackCorrupt when it cannot be unpacked or the decoder meets damaged or missing data,
// kRawUnpackUnknown when the decoder does not open it as a raw of a camera it knows or cannot
// decode its kind of data. Otherwise `message` (of `size` bytes) says why, NUL-terminated.
// Prints nothing; any thread may call it (every call has a decoder of its own).
int cw_unpack_raw(const char* path, char* message, std::size_t size);
}
