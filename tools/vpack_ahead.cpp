// vpack's records of many files: the frames of the next files are made on two threads while the
// record before them is written, so both cores of a small machine compress a payload. The records
// are written in order, each from its own frame, so the bytes are those of one file after the
// other.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "tools/vpack.h"

namespace {

// Frames made at once, each with its zstd context (about 100 MiB at level 19): what bounds the
// memory whatever the payload.
const int kCompressThreads = 2;
// Files whose frames are being made or wait for their record, the one being written included:
// what bounds the temporaries beside the output (and the files held open). Two would leave a
// thread idle while the other makes a large file's frame and the record before it waits (a
// payload of 300 MB of programs took a third longer so).
const size_t kFilesInFlight = 8;

// One file's frame with the outcome of making it.
struct Ahead {
    VpackFrame frame;
    unsigned long err = 0;
    std::string what;
    bool done = false;
};

// The frames of the inputs, made in order by whichever thread claims the next. The destructor
// stops the threads and waits for them; each frame's temporary goes with its Ahead.
class AheadQueue {
public:
    AheadQueue(const std::vector<VpackInput>& inputs, int level, const std::string& target)
        : inputs_(inputs), level_(level), target_(target), aheads_(inputs.size())
    {
        for (auto& a : aheads_) a.reset(new Ahead);
        // Without threads the writer makes every frame itself (Wait): slower, the same bytes.
        try {
            for (int i = 0; i < kCompressThreads && (size_t)i < inputs.size(); ++i)
                threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
        }
    }
    ~AheadQueue()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    AheadQueue(const AheadQueue&) = delete;
    AheadQueue& operator=(const AheadQueue&) = delete;

    // Input i's frame once made (on this thread when no other has claimed it yet).
    Ahead* Wait(size_t i)
    {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            if (aheads_[i]->done) return aheads_[i].get();
            if (next_ == i) {
                ++next_;
                lock.unlock();
                Make(i);
                lock.lock();
                continue;
            }
            changed_.wait(lock);
        }
    }
    // Input i's record is written: its frame's temporary goes, and another file may start.
    void Written(size_t i)
    {
        aheads_[i].reset();
        {
            std::lock_guard<std::mutex> lock(m_);
            written_ = i + 1;
        }
        changed_.notify_all();
    }

private:
    bool MayStart() const { return next_ < inputs_.size() && next_ < written_ + kFilesInFlight; }

    void Work()
    {
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(m_);
                changed_.wait(lock, [this] { return stop_ || next_ >= inputs_.size() || MayStart(); });
                if (stop_ || next_ >= inputs_.size()) return;
                i = next_++;
            }
            Make(i);
        }
    }

    void Make(size_t i)
    {
        Ahead* a = aheads_[i].get();
        a->err = VpackMakeFrame(inputs_[i], level_, target_, &a->frame, &a->what, &stop_);
        {
            std::lock_guard<std::mutex> lock(m_);
            a->done = true;
        }
        changed_.notify_all();
    }

    const std::vector<VpackInput>& inputs_;
    const int level_;
    const std::string target_;
    std::vector<std::unique_ptr<Ahead>> aheads_;
    std::mutex m_;
    std::condition_variable changed_;
    size_t next_ = 0;     // the first input whose frame nobody makes yet
    size_t written_ = 0;  // records written
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;  // last: joined (by the destructor) before anything above goes
};

}  // namespace

unsigned long VpackPackageWriter::Records(const std::vector<VpackInput>& inputs, std::string* what)
{
    if (level <= 0) {
        for (const VpackInput& in : inputs)
            if (unsigned long err = StoredRecord(in, what)) return err;
        return 0;
    }
    AheadQueue queue(inputs, level, out->target);
    for (size_t i = 0; i < inputs.size(); ++i) {
        Ahead* a = queue.Wait(i);
        if (a->err) {
            *what = a->what;
            return a->err;
        }
        if (unsigned long err = Record(inputs[i], &a->frame, what)) return err;
        queue.Written(i);
    }
    return 0;
}
