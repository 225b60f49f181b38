#include "platform/name_lookup.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "platform/native_thread.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace telvaro {
namespace platform {

namespace {

// Hosts whose lookup may be outstanding at once; each holds one thread.
constexpr size_t kMaxLookups = 8;
// How often a waiting caller looks at its abort flag.
constexpr uint32_t kAbortCheckMs = 50;

struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    uint32_t address = 0;
    // Taken by the first caller that sees the answer, to join it, or by one
    // that gives up, to let it go.
    std::shared_ptr<NativeThread> thread;
};

// The lookups under way, by host. Never destroyed: a lookup thread left
// running when the process ends may still reach it.
struct Table {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Lookup>> running;
};

Table& Lookups() {
    static Table* table = new Table();
    return *table;
}

void Answer(const std::string& host, const std::shared_ptr<Lookup>& lookup, uint32_t address) {
    {
        std::lock_guard<std::mutex> guard(lookup->mutex);
        lookup->address = address;
        lookup->answered = true;
    }
    lookup->done.notify_all();
    Table& table = Lookups();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto it = table.running.find(host);
    if (it != table.running.end() && it->second == lookup) table.running.erase(it);
}

// The lookup of host under way, or a new one; null when none can be started.
std::shared_ptr<Lookup> Join(const std::string& host) {
    Table& table = Lookups();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto it = table.running.find(host);
    if (it != table.running.end()) return it->second;
    if (table.running.size() >= kMaxLookups) return nullptr;
    auto lookup = std::make_shared<Lookup>();
    if (!NativeThread::Start([host, lookup] { Answer(host, lookup, ResolveIpv4(host)); }, "Name lookup", false,
                             &lookup->thread)) {
        return nullptr;
    }
    table.running.emplace(host, lookup);
    return lookup;
}

}  // namespace

uint32_t ResolveIpv4Within(const std::string& host, uint32_t timeoutMs, const std::atomic<bool>* abort) {
    uint32_t literal = 0;
    if (host.empty()) return 0;
    if (host.find_first_not_of("0123456789.") == std::string::npos) {
        return ParseIpv4Address(host, literal) ? literal : 0;
    }
    std::shared_ptr<Lookup> lookup = Join(host);
    if (!lookup) return 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->answered) {
        if (abort && abort->load()) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        lookup->done.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                        end - now, std::chrono::milliseconds(kAbortCheckMs)));
    }
    std::shared_ptr<NativeThread> thread;
    thread.swap(lookup->thread);
    const bool answered = lookup->answered;
    const uint32_t address = lookup->address;
    lock.unlock();
    // An answered lookup's thread is about to end: it is joined, so that no
    // thread runs this library's code once the caller is done. One that has
    // not answered runs it until the resolver returns, maybe never: the
    // library then stays loaded for it, even if the host unloads it.
    if (answered && (!thread || thread->Join(1000, false))) return address;
    KeepLibraryLoaded();
    return answered ? address : 0;
}

}  // namespace platform
}  // namespace telvaro
