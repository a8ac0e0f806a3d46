#pragma once
// The fetch of one refresh: each family's servers asked in order, the next
// beside a slow one, on a bounded pool of request threads, each answer
// checked. It knows nothing of windows or the log.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/AddressRequest.h"
#include "net/AddressServer.h"
#include "net/ExchangePool.h"
#include "net/Outcome.h"
#include "net/WinInetApi.h"

namespace quillon::net {

class AddressFetch {
public:
    // What a fetch tells as it goes: one family's address as soon as it is
    // in, and that the other is still awaited a while after.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void Found(Family, const std::wstring& /*address*/) {}
        virtual void StillAsking() {}
    };

    // The servers are asked in order until one answers with an address;
    // servers6 for the IPv6 one.
    AddressFetch(std::vector<AddressServer> servers, std::vector<AddressServer> servers6);
    ~AddressFetch();
    AddressFetch(const AddressFetch&) = delete;
    AddressFetch& operator=(const AddressFetch&) = delete;

    struct Found {
        std::wstring address[2];  // "" where the family gave none or was not asked
        std::vector<Failure> failures;
        bool stopped = false;  // Shutdown came first
    };
    // Asks the families the refresh asks for, side by side, within one
    // bound; yields to the window meanwhile. keepAlive: false for a run that
    // ends after its one refresh.
    Found Fetch(bool ipv6, bool keepAlive, Listener& listener);

    // Starts a request thread and binds WinInet on it, to be ready by the
    // first request while this thread does other work.
    void Prepare();

    // For a program about to end: closes every request still under way,
    // this refresh's and earlier ones', and the session, then waits up to
    // waitMs for the request threads to end. False when one was still in a
    // call that its closed handles did not end (Wine ends none).
    bool Shutdown(DWORD waitMs = 1000);
    bool ShutDown() const { return shutDown_; }

    // The session and connection for the server being asked, through the
    // given proxy ("" for the system's).
    bool Connect(const std::string& ServerName, const std::string& ProxyName);
    void Disconnect();

    // Requests whose threads have not returned yet, outrun or overdue ones
    // included; those that have are forgotten first.
    size_t Unfinished();

    RequestLimits limits;
    std::vector<AddressServer> servers;
    std::vector<AddressServer> servers6;
    std::string proxy;     // the refresh's; "" for the system's
    AddressServer server;  // the one being asked
    InternetHandle hSession;
    InternetHandle hConnect;

    // At most this many requests are under way at once, and at most one
    // for each server, counting those that earlier refreshes stopped
    // waiting for and whose threads are still in WinInet.
    static constexpr size_t kMaxInFlight = 4;

private:
    struct Request {
        std::shared_ptr<Exchange> x;
        ExchangePool::Ticket ticket;
    };
    struct Round;  // one family's servers, asked or still to ask

    bool LaunchDue(Round& round, Found& found);
    bool PostRequest(Round& round, Found& found, DWORD waitMs);
    // Until an answer, a server's turn, a request's own end or until.
    void AwaitAnswers(std::vector<Round>& rounds, Found& found, std::optional<DWORD> until, Listener& listener);
    void SweepOverdue(Round& round, Found& found);
    // The exchange for the page on the server being asked, with the session
    // and connection handed to it; none without them.
    std::shared_ptr<Exchange> NewExchange(const std::string& ScriptName, DWORD waitMs);
    // Closes an ended exchange's handles and checks its answer; false, the
    // failure noted, when it gave no address of the round's family.
    bool Finish(Round& round, Found& found, Exchange& x, Listener& listener);

    ExchangePool pool_{kMaxInFlight};
    std::vector<Request> unfinished_;  // every request whose thread has not returned
    bool keepAlive_ = true;  // the fetch under way's
    bool shutDown_ = false;
};

}  // namespace quillon::net
