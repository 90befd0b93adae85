#pragma once

struct jpeg_decompress_struct;

// The entropy decoding of a JPEG file read at an eighth of its size. There libjpeg takes only each
// block's mean (its DC coefficient) of a component it reduces by the full eight, yet it still
// decodes every other coefficient of the block one code at a time to find where the next block
// begins: nine tenths of a large photograph's thumbnail is spent so. This decoder steps over those
// coefficients several at a time, one table look-up covering the codes and value bits of as many as
// fit in fourteen bits, and decodes the coefficients that are wanted (those of the chroma, which
// libjpeg reduces by four only) a code and its value bits at a time. What it hands on is libjpeg's
// to the bit: the same coefficients, also of damaged data (restart markers, data that ends early, a
// marker met inside a block, a code no table holds), and no byte read past a marker. Damaged data
// draws a warning wherever libjpeg's draws one; a bad code draws one also where libjpeg's fast path
// passes it in silence.
namespace JpegCoarseScan {

// Takes over the entropy decoding of `info` after jpeg_start_decompress, where the file is one
// sequential, Huffman-coded scan of 8-bit samples and at least one of its components is reduced
// by eight (DCT_scaled_size 1) or not needed. False, and libjpeg's own decoding left in place,
// otherwise. The decoder's tables come from libjpeg's memory pool of the image.
bool install(jpeg_decompress_struct &info);

} // namespace JpegCoarseScan
