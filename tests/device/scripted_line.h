#pragma once
// A pseudo-terminal whose instrument answers whatever the test scripts, request by request: a
// reply text the real instrument never gives (300, "abc") or a refusal. The simulator covers
// everything else; this serves the replies it cannot make.
#include "frame.h"
#include "pty_master.h"

#include <QString>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScriptedLine {
public:
    struct TAnswer {
        enum TKind { Reply, Refuse } Kind = Reply;
        std::string Text;
    };
    // Called on the line's thread with each request and its index from 0.
    using TScript = std::function<TAnswer(const excom::Frame &request, int index)>;

    explicit TScriptedLine(TScript script);
    ~TScriptedLine();
    TScriptedLine(const TScriptedLine &) = delete;
    TScriptedLine &operator=(const TScriptedLine &) = delete;

    bool IsValid() const { return FThread.joinable(); }
    QString PortPath() const { return QString::fromStdString(FPty.path()); }
    std::vector<excom::Frame> Requests() const;

private:
    void Run();
    void Answer(const excom::Frame &request);

    TScript FScript;
    sim::PtyMaster FPty;
    int FHolder = -1;   // keeps the terminal alive while the library has it closed
    int FStop[2] = {-1, -1};
    mutable std::mutex FMutex;
    std::vector<excom::Frame> FRequests;
    std::thread FThread;
};
