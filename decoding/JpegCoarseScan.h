#pragma once

struct jpeg_decompress_struct;

// The entropy decoding of a JPEG file read at an eighth of its size. There libjpeg takes only each
// block's mean (its DC coefficient) of a component it reduces by the full eight, yet it still
// decodes every other coefficient of the block one code at a time to find where the next block
// begins: nine tenths of a large photograph's thumbnail is spent so. This decoder steps over those
// coefficients several at a time, one table look-up covering the codes and value bits of as many as
// fit in fourteen bits, and decodes the coefficients that are wanted (those of the chroma, which
// libjpeg reduces by four only) a code and its value bits at a time. What it hands on is what
// libjpeg's careful decoding hands on, to the bit: the same coefficients, also of damaged data
// (restart markers, data that ends early, a marker met inside a block, a code no table holds), the
// same warnings, and no byte read past a marker. (libjpeg's fast path, taken where much data is at
// hand, differs from its careful one on damaged data: it passes a bad code in silence, and where it
// takes 0xFF fill bytes inside the data for a marker it keeps coefficients of the attempt it then
// abandons.)
namespace JpegCoarseScan {

// Takes over the entropy decoding of `info` after jpeg_start_decompress, where the file is one
// sequential, Huffman-coded scan of 8-bit samples and at least one of its components is reduced
// by eight (DCT_scaled_size 1) or not needed. False, and libjpeg's own decoding left in place,
// otherwise. The decoder's tables come from libjpeg's memory pool of the image.
bool install(jpeg_decompress_struct &info);

} // namespace JpegCoarseScan
