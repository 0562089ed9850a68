#include "verdicts.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr long long kGapBoundUs = 250000;
// Under qemu-i386-static a frame can wait for the translation of new code.
constexpr long long kEmulatedGapBoundUs = 1000000;
constexpr long kRssGrowthBoundKb = 2048;

int Line(bool ok, const char* what, const std::string& figures)
{
    std::printf("%-4s %s: %s\n", ok ? "ok" : "FAIL", what, figures.c_str());
    return ok ? 0 : 1;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

std::string Reader(const OutputFigures& f)
{
    return Format("%lld received whole and in order + %lld missing in %lld gaps = %lld printed; "
                  "%lld missing unannounced, %lld malformed, %lld cut short by a crash; "
                  "%lld notices announced %lld lines; %lld engine starts seen",
                  f.received, f.missing, f.gaps, f.received + f.missing, f.unannounced, f.malformed,
                  f.cutByCrash, f.notices, f.announced, f.engineStarts) +
           (f.firstMalformed.empty() ? "" : "; first malformed: \"" + f.firstMalformed + "\"");
}

bool ReaderOk(const OutputFigures& f)
{
    return f.unannounced == 0 && f.malformed == 0 && f.received > 0;
}

int FrameGaps(const SoakOutcome& o)
{
    long long bound = o.emulated ? kEmulatedGapBoundUs : kGapBoundUs;
    long long longest = o.engine.longestUs;
    long long over = std::count_if(o.engine.gapsUs.begin(), o.engine.gapsUs.end(),
                                   [bound](long long gap) { return gap > bound; });
    return Line(over == 0, "frame gaps",
                Format("%lld over %lld ms, %zu over 100 ms, longest %.1f ms, in %lld engine starts%s", over,
                       bound / 1000, o.engine.gapsUs.size(), longest / 1000.0, o.engine.starts,
                       o.emulated ? " (bound loosened from 250 ms: i386 under qemu-i386-static)" : ""));
}

int EngineLines(const SoakOutcome& o)
{
    int failed = Line(ReaderOk(o.stdoutFigures), "engine lines on stdout", Reader(o.stdoutFigures));
    for (const auto& client : o.clients) {
        if (!client->Reads() || client->Output().received == 0)
            continue;
        std::string name = Format("engine lines on client %d (%s)", client->Id(), Schedule_KindName(client->Plan().kind));
        failed += Line(ReaderOk(client->Output()), name.c_str(),
                       Reader(client->Output()) + Format("; %lld of %lld over-long lines refused",
                                                         client->Output().refusals, client->OverLong()));
    }
    return failed;
}

// Run once and in order: the sequence numbers as run are 0, 1, 2... and
// all that were sent, unless the launcher cut the client or ended.
int ClientLines(const SoakOutcome& o)
{
    long long sent = 0, wrong = 0, lost = 0, clients = 0;
    std::string first;
    for (const auto& client : o.clients) {
        auto found = o.engine.clientLines.find(client->Id());
        std::vector<long long> run = found == o.engine.clientLines.end() ? std::vector<long long>() : found->second;
        ++clients;
        sent += client->Sent();
        bool inOrder = true;
        for (size_t i = 0; i < run.size(); ++i)
            inOrder = inOrder && run[i] == static_cast<long long>(i);
        bool mayLose = client->Cut() || client->EndedWithLauncher() || client->TurnedAway();
        bool complete = static_cast<long long>(run.size()) == client->Sent() ||
                        (mayLose && static_cast<long long>(run.size()) <= client->Sent());
        if (mayLose)
            lost += client->Sent() - static_cast<long long>(run.size());
        if ((!inOrder || !complete) && ++wrong == 1)
            first = Format(" (first: client %d, %s, %s, sent %lld, %zu run)", client->Id(),
                           Schedule_KindName(client->Plan().kind), inOrder ? "in order" : "out of order",
                           client->Sent(), run.size());
    }
    return Line(wrong == 0, "client lines",
                Format("%lld sent by %lld clients, %lld run once and in order, %lld clients wrong%s, "
                       "%lld lost with a cut or ended launcher; latency worst %.1f ms, mean %.2f ms",
                       sent, clients, o.engine.linesRun, wrong, first.c_str(), lost, o.engine.worstLatencyUs / 1000.0,
                       o.engine.linesRun ? o.engine.latencySumUs / 1000.0 / o.engine.linesRun : 0.0));
}

int ClientsCut(const SoakOutcome& o)
{
    long long readers = 0, readersCut = 0, mute = 0, muteCut = 0, withLauncher = 0, turnedAway = 0;
    std::string first;
    for (const auto& client : o.clients) {
        (client->Reads() ? readers : mute) += 1;
        (client->Reads() ? readersCut : muteCut) += client->Cut();
        withLauncher += client->EndedWithLauncher();
        turnedAway += client->TurnedAway();
        if (client->Reads() && client->Cut() && first.empty())
            first = Format(" (first: client %d, %s, %s at %.1f s, last read at %.1f s)", client->Id(),
                           Schedule_KindName(client->Plan().kind), client->EndedHow().c_str(),
                           client->EndedAtMs() / 1000.0, client->LastReadMs() / 1000.0);
    }
    return Line(readersCut == 0, "reading clients never cut",
                Format("%lld of %lld reading clients cut%s; %lld of %lld never-reading clients cut; "
                       "%lld turned away as too many; %lld connections ended with a launcher process; "
                       "the soak's longest turn %lld ms at %.1f s",
                       readersCut, readers, first.c_str(), muteCut, mute, turnedAway, withLauncher, o.longestTurnMs,
                       o.longestTurnAtMs / 1000.0));
}

int Scrapes(const SoakOutcome& o)
{
    const ScrapeFigures& s = o.scrapes;
    return Line(s.invalid == 0 && s.counterFalls == 0 && s.junkWrong == 0 && s.valid > 0, "scrapes",
                Format("%lld valid, %lld invalid, %lld counter falls, %lld while the launcher was away; "
                       "junk: %lld refused as expected, %lld otherwise%s%s",
                       s.valid, s.invalid, s.counterFalls, s.launcherAway, s.junkAnswered, s.junkWrong,
                       s.firstProblem.empty() ? "" : "; first problem: ", s.firstProblem.c_str()));
}

int Resources(const SoakOutcome& o)
{
    bool descriptors = o.end.descriptors == o.firstBaseline.descriptors && o.end.descriptors > 0;
    // Under qemu, the i386 program's own mappings; qemu's beside them.
    bool own = o.emulated && o.end.lowKilobytes > 0 && o.lastBaseline.lowKilobytes > 0;
    long before = own ? o.lastBaseline.lowKilobytes : o.lastBaseline.residentKilobytes;
    long after = own ? o.end.lowKilobytes : o.end.residentKilobytes;
    bool memory = after - before < kRssGrowthBoundKb && before > 0;
    std::string qemu = !o.emulated ? ""
                       : own ? Format(" (the i386 program's own, below 4 GiB; with qemu-i386-static's: %ld kB, then %ld kB)",
                                      o.lastBaseline.residentKilobytes, o.end.residentKilobytes)
                             : " (qemu-i386-static's own memory included)";
    return Line(descriptors && memory, "descriptors and memory",
                Format("descriptors %d at the start, %d at the end; resident memory of the last process "
                       "%ld kB at %.1f s, %ld kB at %.1f s: growth %ld kB (bound %ld kB)%s",
                       o.firstBaseline.descriptors, o.end.descriptors, before, o.lastBaseline.atMs / 1000.0, after,
                       o.end.atMs / 1000.0, after - before, kRssGrowthBoundKb, qemu.c_str()));
}

int Crashes(const SoakOutcome& o)
{
    return Line(o.engine.crashes == o.crashesAsked && o.crashReports == o.engine.crashes, "crashes",
                Format("%lld asked, %lld run, %d reports naming SIGSEGV in errorlogs/; %lld engine starts, "
                       "%lld restarts asked and run",
                       o.crashesAsked, o.engine.crashes, o.crashReports, o.engine.starts, o.engine.restarts));
}

int Stop(const SoakOutcome& o)
{
    return Line(o.stopEvent == "exited 0" && o.socketRemoved && o.stopMs < 5000, "clean stop",
                Format("tarn-run %s %lld ms after \"quit\"; control socket %s; %lld bytes on standard error",
                       o.stopEvent.empty() ? "still running" : o.stopEvent.c_str(), o.stopMs,
                       o.socketRemoved ? "removed" : "left behind", o.stderrBytes));
}

}  // namespace

int Verdicts_Print(const SoakOutcome& outcome)
{
    return FrameGaps(outcome) + EngineLines(outcome) + ClientLines(outcome) + ClientsCut(outcome) +
           Scrapes(outcome) + Resources(outcome) + Crashes(outcome) + Stop(outcome);
}
