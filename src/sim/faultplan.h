#pragma once

#include "sim/displayprotocol.h"
#include "sim/displaywire.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// What the simulated display does with one message.
struct FaultAction {
    enum class Type { Answer,
                      Silence,
                      HangUp };
    Type type = Type::Answer;
    quint8 byte = 0;                     // the answer, for Type::Answer
    std::chrono::milliseconds delay{0};  // before the answer goes out
    bool hangUpAfter = false;            // Type::Answer: close the line once the answer is out
    QByteArray more;                     // Type::Answer: said right after `byte`, in the same breath
    QByteArray later;                    // Type::Answer: said again, `laterAfter` after the answer
    std::chrono::milliseconds laterAfter{0};

    static FaultAction answer(quint8 b, std::chrono::milliseconds d = {}) { return {Type::Answer, b, d, false, {}, {}, {}}; }
    // Answers, then closes the line as a pulled cable would: the tool gets the
    // answer, the display hears nothing after the message.
    static FaultAction answerThenHangUp(quint8 b, std::chrono::milliseconds d = {}) { return {Type::Answer, b, d, true, {}, {}, {}}; }
    static FaultAction silence() { return {Type::Silence, 0, {}, false, {}, {}, {}}; }
    static FaultAction hangUp() { return {Type::HangUp, 0, {}, false, {}, {}, {}}; }
    bool operator==(const FaultAction &) const = default;
};

// One rule: for this kind of message (and data frame, and attempt), do this.
struct FaultRule {
    MessageKind kind = MessageKind::AccessCommand;
    int frame = -1;    // data frame index from 0; -1 for any
    int attempt = -1;  // 1 for the first time a message is heard; -1 for any
    FaultAction action;
    bool operator==(const FaultRule &) const = default;
};

// How the simulated display misbehaves. The first matching rule wins; with no
// match it behaves as a healthy display.
struct FaultPlan {
    // Data frames are numbered from 0; the last one whose 16-bit end address
    // still fits is 355 (start 65320, end 65503): 356 frames at most.
    static constexpr int kLastFrame = DisplayWire::kLastBlock;
    static constexpr std::chrono::milliseconds kMaxDelay{60'000};

    QList<FaultRule> rules;

    std::optional<FaultAction> actionFor(MessageKind kind, int frame, int attempt) const;

    // One rule as text: KIND[#FRAME][@ATTEMPT]=ACTION, where KIND is access,
    // erase, data or end; FRAME (data only) is 0..355; ATTEMPT is 1 or more;
    // ACTION is silent, hangup, or bytes in hex (0x1B, or 0xAA,0xAA for a
    // display that says more than asked) optionally followed by
    // +MILLISECONDSms (at most 60000), then by +then:BYTES@MILLISECONDSms
    // (more bytes that long after the answer: a late echo, line noise) or by
    // +hangup (answer, then close the line). Examples: data#3@1=silent,
    // data#2=0xAA+hangup, access=0x07,0x07, data#1=0xAA+then:0xAA@50ms.
    // A rule that could never match is refused, with the reason in *error.
    static std::optional<FaultRule> parseRule(const QString &text, QString *error);
    // The rule as parseRule reads it back, canonical (lower-case kind, bytes
    // as 0xNN, no +0ms). Empty for a kind no rule can name.
    static QString formatRule(const FaultRule &rule);
};
