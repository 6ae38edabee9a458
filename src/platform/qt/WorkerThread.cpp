#include "platform/qt/WorkerThread.h"

#include <QMetaObject>

namespace tarvel {

WorkerThread::WorkerThread() : context_(std::make_unique<QObject>()) {
    thread_.setObjectName(QStringLiteral("acquisizione"));
    context_->moveToThread(&thread_);
    thread_.start();
}

WorkerThread::~WorkerThread() {
    stop();
    // Its objects were made on the thread; they go with the context.
    context_.reset();
}

void WorkerThread::post(std::function<void()> job) {
    QMetaObject::invokeMethod(context_.get(), std::move(job), Qt::QueuedConnection);
}

// Once the thread is joined, its objects are reached from the caller.
void WorkerThread::call(const std::function<void()>& job) {
    if (thread_.isRunning())
        QMetaObject::invokeMethod(context_.get(), job, Qt::BlockingQueuedConnection);
    else
        job();
}

void WorkerThread::stop(const std::function<void()>& whileWaiting) {
    if (!thread_.isRunning()) return;
    thread_.quit();
    while (!thread_.wait(QDeadlineTimer(20)))
        if (whileWaiting) whileWaiting();
}

}  // namespace tarvel
