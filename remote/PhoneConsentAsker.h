#pragma once

#include <QString>

#include <functional>

// Asks the user whether a phone that is new to this PC may take control. The program shows a
// dialog; tests answer with a fake.
class PhoneConsentAsker
{
public:
    enum class Answer
    {
        Allow,       // this connection only
        AlwaysAllow, // this connection and every later one from the address
        Refuse,
    };
    using Callback = std::function<void(Answer answer)>;
    // Who waits: a phone on the network, or a program of another user of this PC (which may
    // be allowed only for the connection it made).
    enum class Who
    {
        NewPhone,
        OtherUser,
    };

    virtual ~PhoneConsentAsker() = default;
    // Puts the question about `who` at `address`; `answered` runs once with the user's
    // answer, later, from the event loop, unless cancel() comes first. One question at a time.
    // It is withdrawn (cancel()) if not answered within `timeoutMs`.
    virtual void ask(const QString& address, Who who, int timeoutMs, Callback answered) = 0;
    // The phone went away before the user answered: the question is withdrawn.
    virtual void cancel() = 0;
};
