#include "scripted_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

TScriptedLine::TScriptedLine(TScript script) : FScript(std::move(script))
{
    if (!FPty.isValid() || pipe2(FStop, O_CLOEXEC) != 0)
        return;
    FHolder = ::open(FPty.device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FHolder < 0)
        return;
    termios tio{};
    tcgetattr(FHolder, &tio);
    cfmakeraw(&tio);
    tcsetattr(FHolder, TCSANOW, &tio);
    FThread = std::thread([this] { Run(); });
}

TScriptedLine::~TScriptedLine()
{
    if (FThread.joinable()) {
        const char stop = 1;
        (void)::write(FStop[1], &stop, 1);
        FThread.join();
    }
    FPty.close();
    for (const int fd : {FHolder, FStop[0], FStop[1]})
        if (fd >= 0)
            ::close(fd);
}

std::vector<excom::Frame> TScriptedLine::Requests() const
{
    std::lock_guard lock(FMutex);
    return FRequests;
}

void TScriptedLine::Run()
{
    std::vector<std::uint8_t> received;
    for (;;) {
        pollfd p[2] = {{FPty.fd(), POLLIN, 0}, {FStop[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN))
            return;
        std::uint8_t chunk[256];
        const ssize_t n = ::read(FPty.fd(), chunk, sizeof chunk);
        if (n <= 0)
            continue;
        received.insert(received.end(), chunk, chunk + n);
        std::size_t pos = 0;
        while (pos < received.size()) {
            const auto r = excom::decodeFrame(received.data() + pos, received.size() - pos);
            if (r.status == excom::Decoded::NeedMore)
                break;
            if (r.status == excom::Decoded::Frame && !r.frame.reply)
                Answer(r.frame);
            pos += r.consumed;
        }
        received.erase(received.begin(), received.begin() + std::ptrdiff_t(pos));
    }
}

void TScriptedLine::Answer(const excom::Frame &request)
{
    int index = 0;
    {
        std::lock_guard lock(FMutex);
        index = int(FRequests.size());
        FRequests.push_back(request);
    }
    const TAnswer answer = FScript(request, index);
    excom::Frame reply = request;
    reply.reply = true;
    reply.text = answer.Text;
    if (answer.Kind == TAnswer::Refuse)
        reply.command |= excom::kRefusedBit;
    const auto bytes = excom::encodeFrame(reply);
    (void)::write(FPty.fd(), bytes.data(), bytes.size());
}
