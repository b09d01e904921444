#include "PicturePool.h"

#include <QThreadPool>

namespace PicturePool {

QThreadPool *instance()
{
    // Never destroyed: a thread stuck in a reader past its time limit must
    // not hold up the end of the program.
    static QThreadPool *const pool = [] {
        auto *made = new QThreadPool;
        made->setMaxThreadCount(2);
        made->setExpiryTimeout(30000);
        return made;
    }();
    return pool;
}

} // namespace PicturePool
