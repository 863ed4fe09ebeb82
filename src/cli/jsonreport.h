#pragma once

#include <QByteArray>

struct RunResult;

// The version of the document docs/custdisp-cli.schema.json describes; it
// changes only when a field is renamed or removed or changes its meaning.
constexpr int kJsonSchemaVersion = 1;

// The whole run as the one JSON document --json prints.
QByteArray jsonDocument(const RunResult &result);
