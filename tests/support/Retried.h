#pragma once

#include <QTest>

#include <functional>

// A step that a busy desktop may drop now and then (trayer's first window
// staying unmapped, say) is tried up to three times, waiting up to waitMs
// after each try for it to be done.
inline bool retried(const std::function<void()>& step, const std::function<bool()>& done, int waitMs = 3000)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        step();
        if (QTest::qWaitFor(done, waitMs))
            return true;
    }
    return false;
}
