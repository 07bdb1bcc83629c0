// Progress of a long run on standard error: frames done, rate and time
// left, redrawn in place. Silent unless standard error is a terminal, so
// logs and pipes stay clean.
#pragma once

#include <chrono>
#include <string>

namespace gridcull::bench {

class Progress {
public:
    Progress(const std::string& label, int total);
    ~Progress();
    void Update(int done);

private:
    using Clock = std::chrono::steady_clock;
    std::string label_;
    int iTotal_;
    bool bActive_;
    Clock::time_point start_, lastDraw_;
};

}  // namespace gridcull::bench
