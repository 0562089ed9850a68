#ifndef TARN_TESTS_SOAK_SOAK_CLIENT_H
#define TARN_TESTS_SOAK_SOAK_CLIENT_H

// One control client of the soak: it sends bursts of numbered lines
// ("cID SEQ MICROSECONDS x...", at most 254 characters) with an over-long
// line now and then, and reads as its kind says: everything at once
// (steady), a little at a time (slow), or never (never reading).

#include "output_check.h"
#include "schedule.h"

#include <random>
#include <string>
#include <sys/types.h>

class SoakClient {
public:
    SoakClient(int id, const ClientPlan& plan, uint64_t seed, int lineBytes);
    ~SoakClient();
    SoakClient(const SoakClient&) = delete;
    SoakClient& operator=(const SoakClient&) = delete;

    // Connects when it is time, sends and reads; leaves when its time is
    // up and all it meant to send is sent.
    void Step(long long nowMs, const std::string& socketPath, pid_t launcher);

    int Id() const { return id_; }
    const ClientPlan& Plan() const { return plan_; }
    bool Done() const { return done_; }
    // The launcher closed the connection while the launcher lived on, and
    // not because it had too many clients already.
    bool Cut() const { return cut_ && !TurnedAway(); }
    bool TurnedAway() const { return check_.Figures().turnedAway; }
    long long EndedAtMs() const { return endedAtMs_; }
    long long LastReadMs() const { return lastReadMs_; }  // when bytes last arrived; -1 never
    const std::string& EndedHow() const { return endedHow_; }  // end of file, or the error
    // The connection ended because its launcher process ended.
    bool EndedWithLauncher() const { return endedWithLauncher_; }
    long long Sent() const { return sent_; }  // numbered lines wholly written
    long long OverLong() const { return overLong_; }
    bool Reads() const { return plan_.kind != ClientKind::kMute; }
    const OutputFigures& Output() const { return check_.Figures(); }

private:
    void Connect(const std::string& socketPath, pid_t launcher);
    void Burst();
    void Flush(long long nowMs);
    void Read(size_t most, long long nowMs);
    void Ended(long long nowMs, const char* how);
    void Judge(long long nowMs);

    int id_;
    ClientPlan plan_;
    std::mt19937_64 random_;
    OutputCheck check_;
    int fd_ = -1;
    pid_t launcher_ = -1;
    bool done_ = false;
    bool cut_ = false;
    bool endedWithLauncher_ = false;
    long long endedAtMs_ = -1;
    long long lastReadMs_ = -1;
    std::string endedHow_;
    long long nextBurstMs_ = 0;
    long long nextReadMs_ = 0;
    long long sequence_ = 0;
    long long sent_ = 0;
    long long overLong_ = 0;
    std::string outbox_;
    std::string lineEnds_;  // per line in outbox_: 'n' numbered, 'o' over-long
};

// True when the process has ended (gone, or a zombie).
bool ProcessEnded(pid_t pid);

#endif
