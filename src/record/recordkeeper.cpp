#include "record/recordkeeper.h"

RecordKeeper::RecordKeeper(DisplayRecord record, QObject *parent)
    : QObject(parent), m_record(std::move(record)), m_worker(std::make_unique<QObject>())
{
    m_thread.setObjectName(QStringLiteral("display record"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

RecordKeeper::~RecordKeeper()
{
    // Queued after everything asked: a save asked for is on disk before the program ends.
    QMetaObject::invokeMethod(
        m_worker.get(), [this] { m_thread.quit(); }, Qt::QueuedConnection);
    m_thread.wait();
}

void RecordKeeper::post(std::function<void()> job)
{
    QMetaObject::invokeMethod(
        m_worker.get(), [job = std::move(job)] { job(); },
        Qt::QueuedConnection);
}
