#pragma once
// The burn counters: counted in memory for the screen and written to the
// settings file by a thread of their own. Rewriting and syncing the whole file
// took 1-25 ms on the GUI thread at every batch of results, the longest wait a
// result had before it was shown.

#include <QObject>
#include <QThread>

class BurnCounters : public QObject
{
    Q_OBJECT
public:
    struct Counts {
        int total = 0;
        int succeeded = 0;
        int failed = 0;
    };

    // Starts from what the settings file holds.
    explicit BurnCounters(QObject *parent = nullptr);
    // Writes what was counted, then ends the thread.
    ~BurnCounters() override;

    Counts counts() const { return m_counts; }
    // Counts one result; the file follows at once, off this thread.
    void count(bool success);
    // Zero, written behind every count before it; false (logged) when the
    // file refused it.
    bool reset();
    // Returns once every count so far is written (or refused, logged).
    void flush();

private:
    void requestWrite();

    Counts m_counts;
    QThread m_thread;
    QObject *m_writer = nullptr;
};
