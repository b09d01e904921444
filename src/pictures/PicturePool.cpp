#include "PicturePool.h"

#include <QCoreApplication>
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
        // Work still running when the application goes would draw with a
        // GUI already gone (a blur paints): what has not started is dropped,
        // what runs is waited for, a little, before the GUI is taken down.
        qAddPostRoutine([] {
            instance()->clear();
            instance()->waitForDone(2000);
        });
        return made;
    }();
    return pool;
}

} // namespace PicturePool
