#pragma once

#include "sim/displayprotocol.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// What the simulated display does with one message.
struct FaultAction {
    enum class Type { Answer, Silence, HangUp };
    Type type = Type::Answer;
    quint8 byte = 0;                        // the answer, for Type::Answer
    std::chrono::milliseconds delay{0};     // before the answer goes out

    static FaultAction answer(quint8 b, std::chrono::milliseconds d = {}) { return {Type::Answer, b, d}; }
    static FaultAction silence() { return {Type::Silence, 0, {}}; }
    static FaultAction hangUp() { return {Type::HangUp, 0, {}}; }
    bool operator==(const FaultAction &) const = default;
};

// One rule: for this kind of message (and data frame, and attempt), do this.
struct FaultRule {
    MessageKind kind = MessageKind::AccessCommand;
    int frame = -1;    // data frame index from 0; -1 for any
    int attempt = -1;  // 1 for the first time a message is heard; -1 for any
    FaultAction action;
};

// How the simulated display misbehaves. The first matching rule wins; with no
// match it behaves as a healthy display.
struct FaultPlan {
    QList<FaultRule> rules;

    std::optional<FaultAction> actionFor(MessageKind kind, int frame, int attempt) const;

    // One rule as text: KIND[#FRAME][@ATTEMPT]=ACTION, where KIND is access,
    // erase, data or end, and ACTION is silent, hangup or a byte in hex
    // (0x1B), optionally followed by +MILLISECONDSms. Example: data#3@1=silent
    static std::optional<FaultRule> parseRule(const QString &text, QString *error);
};
