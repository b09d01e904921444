#pragma once

class QThreadPool;

// Picture work (judging and decoding a picture, blurring a backdrop) runs on
// a pool of its own: a file that blocks a reader, or a picture slow to
// decode, then holds only other pictures back, never the receipt loads and
// message parses that the ordered queue waits for on the global pool.
namespace PicturePool {

QThreadPool *instance();

} // namespace PicturePool
