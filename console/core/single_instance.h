#pragma once
// One console per user: a lock the system drops when its holder ends,
// however it ends, so it is never left stale by a crash and never taken by
// two consoles at once (single_instance_*.cpp).

#include <QString>

class SingleInstance
{
public:
    // The console that holds the lock, as it wrote itself down.
    struct Holder {
        qint64 pid = 0;
        QString folder;  // its working folder
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Takes the lock for this process and writes down its pid and working
    // folder. False when another console holds it (heldElsewhere(); holder()
    // says which) or when no lock can be had at all (errorString() says why).
    bool acquire();
    bool heldElsewhere() const { return m_heldElsewhere; }
    Holder holder() const { return m_holder; }
    QString errorString() const { return m_error; }

private:
    qintptr m_lock = -1;  // the platform's handle of the held lock
    Holder m_holder;
    bool m_heldElsewhere = false;
    QString m_error;
};
