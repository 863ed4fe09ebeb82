#pragma once

#include "record/displayrecord.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <functional>
#include <memory>

// The display record's reads and saves, on a thread of their own: the loop
// that drives the ports stamps every byte with its read time, so a lock file
// waited for, a sync to disk or a retry there would delay every port's
// judgement. Requests run one at a time in the order asked (the ports of one
// run queue here, not at the lock file); each answer comes back as an event
// on the asker's loop, and not at all once the asker is gone.
class RecordKeeper : public QObject {
    Q_OBJECT
public:
    explicit RecordKeeper(DisplayRecord record = DisplayRecord(), QObject *parent = nullptr);
    // Finishes what was asked, then ends its thread.
    ~RecordKeeper() override;

    const DisplayRecord &record() const { return m_record; }

    // Runs `work` on the keeper's thread, then `done` with its result on
    // this object's thread, if `context` still exists.
    template <typename Result>
    void ask(QObject *context, std::function<Result(const DisplayRecord &)> work, std::function<void(Result)> done)
    {
        post([this, guard = QPointer<QObject>(context), work = std::move(work), done = std::move(done)] {
            auto result = std::make_shared<Result>(work(m_record));
            QMetaObject::invokeMethod(
                this, [guard, done, result] {
                    if (guard)
                        done(std::move(*result));
                },
                Qt::QueuedConnection);
        });
    }

private:
    void post(std::function<void()> job);

    DisplayRecord m_record;
    QThread m_thread;
    std::unique_ptr<QObject> m_worker;  // lives on m_thread
};
