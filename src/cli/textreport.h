#pragma once

#include <QList>
#include <QString>

struct ImageFacts;
struct PortListing;
struct PortResult;

// One line a port, in columns: port, device, outcome, frames, attempts, seconds.
QString summaryTable(const QList<PortResult> &results);

// The dry run's plan: size, data frames, the last frame's addresses, whether
// it fits; only the refusal for an image that has no plan.
QString planText(const ImageFacts &facts);

// The ports found, one a line (device, description, maker, vendor:product,
// serial number, tab-separated), then what each "Com N" names.
QString listingText(const PortListing &listing);
