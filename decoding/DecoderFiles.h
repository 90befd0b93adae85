#pragma once

#include <vector>

// The file a decoder reads, handed over as open descriptors with each request: the decoder's
// sandbox lets it open none of the user's files by name. Each descriptor is an opening of its
// own (its own offset), since the readers open one file several times, some at once. While a
// request's descriptors are held, a library that opens that file by any of its names (the same
// device and inode) gets a duplicate of one that is not in use (none of its duplicates open);
// opening it more often at once than the program sent descriptors fails with EMFILE rather than
// share an offset.
namespace DecoderFiles {

// The most descriptors a request carries.
constexpr int maxDescriptions = 8;

// Takes over the descriptors of the next request's file (all of one regular file); none for a
// request that names no file, or a file the program could not open.
void hold(const std::vector<int> &descriptors);

// Closes them at the end of the request; what a library opened of them stays open.
void release();

} // namespace DecoderFiles
