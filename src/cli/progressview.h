#pragma once

struct PortResult;

// Progress of the ports on stderr while they run.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void update(int port, int value, int maximum) = 0;
    // The port has ended; what follows starts on a line of its own.
    virtual void finish(int port, const PortResult &result) = 0;
};
