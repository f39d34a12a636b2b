#pragma once

namespace somnara::app {

/// Creates the app's folders below the home, or throws `std::runtime_error` with a sentence naming the
/// folder that cannot be used and why: the library's fatal error is for a broken platform, not for a
/// home that is a file or sits on a read-only disk.
void requireUsableHome();

/// Makes the library's error lines (a save that did not reach the disk, a damaged file kept aside, a
/// file refused) appear on standard error as well as in the system log, for the rest of the process:
/// the person who ran a command that reads or writes the stored state must read them.
void sayStorageErrors();

/// An exclusive lock on "somnara.lock" in the home, held for a command's whole read, change and write,
/// so that commands run at once each build on the last one's result instead of overwriting it.
class HomeLock {
public:
    /// Waits for the lock; throws `std::runtime_error` naming the lock file when it cannot be taken.
    HomeLock();
    ~HomeLock();

    HomeLock(const HomeLock&) = delete;
    HomeLock& operator=(const HomeLock&) = delete;

private:
    int descriptor_ = -1;
};

} // namespace somnara::app
