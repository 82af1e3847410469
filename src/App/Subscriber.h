#pragma once

#include <QList>
#include <functional>

// A notification handler bound to an object; two handlers are equal when both the object and the
// method id match (the method id is any stable address, usually the member function's name literal or
// a static tag).
struct TNotifyEvent {
    const void* Object = nullptr;
    const void* Method = nullptr;
    std::function<void(void* Sender)> Call;
    bool operator==(const TNotifyEvent& other) const { return Object == other.Object && Method == other.Method; }
};

// Ordered notification list with an owner passed as the sender of every notification.
class TSubscriberList : public QList<TNotifyEvent> {
public:
    explicit TSubscriberList(void* owner = nullptr) : FOwner(owner) {}
    void Subscribe(const TNotifyEvent& handler) { append(handler); }
    void Unsubscribe(const TNotifyEvent& handler) {
        const qsizetype i = indexOf(handler);
        if (i >= 0)
            removeAt(i);
    }
    // Calls every handler in order; entries appended during the pass are called in the same pass.
    void NotifySubscribers() {
        for (qsizetype i = 0; i < count(); ++i) {
            auto call = at(i).Call;
            if (call)
                call(FOwner);
        }
    }
    void* Owner() const { return FOwner; }

private:
    void* FOwner;
};
