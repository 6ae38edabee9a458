#include "mainwindow/AcquisitionHost.h"

#include <QCoreApplication>
#include <QThread>

#include "platform/qt/WorkerThread.h"

namespace tarvel {
namespace {

// The logic's boxes, shown by the window's thread while the logic waits.
class WindowDialogs : public Dialogs {
  public:
    WindowDialogs(AcquisitionHost& host, Dialogs& inner) : host_(host), inner_(inner) {}
    Answer messageBox(const std::string& title, const std::string& text, Icon icon, Buttons buttons,
                      Answer defaultButton, const std::string& details) override {
        Answer answer = defaultButton;
        host_.onWindow([&] {
            if (!host_.stopping())
                answer = inner_.messageBox(title, text, icon, buttons, defaultButton, details);
        });
        return answer;
    }
    std::string inputBox(const std::string& prompt, const std::string& title,
                         const std::string& proposed) override {
        std::string typed;
        host_.onWindow([&] {
            if (!host_.stopping()) typed = inner_.inputBox(prompt, title, proposed);
        });
        return typed;
    }

  private:
    AcquisitionHost& host_;
    Dialogs& inner_;
};

}  // namespace

AcquisitionHost::AcquisitionHost(WorkerThread* worker, Dialogs& windowDialogs,
                                 std::function<void()> interrupt)
    : worker_(worker),
      interrupt_(std::move(interrupt)),
      window_(std::make_unique<QObject>()),
      dialogs_(std::make_unique<WindowDialogs>(*this, windowDialogs)) {}

AcquisitionHost::~AcquisitionHost() { stop(); }

bool AcquisitionHost::onLogicThread() const { return !worker_ || worker_->isCurrent(); }

void AcquisitionHost::post(std::function<void()> job) {
    if (!worker_) {
        job();
        return;
    }
    if (!stopping_) worker_->post(std::move(job));
}

void AcquisitionHost::call(const std::function<void()>& job) {
    if (onLogicThread() || stopping_)
        job();
    else
        worker_->call(job);
}

void AcquisitionHost::toWindow(std::function<void()> job) {
    if (!worker_ || window_->thread() == QThread::currentThread())
        job();
    else
        QMetaObject::invokeMethod(window_.get(), std::move(job), Qt::QueuedConnection);
}

void AcquisitionHost::onWindow(const std::function<void()>& job) {
    if (!worker_ || window_->thread() == QThread::currentThread())
        job();
    else
        QMetaObject::invokeMethod(window_.get(), job, Qt::BlockingQueuedConnection);
}

void AcquisitionHost::stop() {
    if (!worker_ || stopping_.exchange(true)) return;
    if (interrupt_) interrupt_();
    // A box the logic asked for just now gets its default answer here, so
    // that the join never waits for the window.
    worker_->stop([this] { QCoreApplication::sendPostedEvents(window_.get()); });
}

}  // namespace tarvel
