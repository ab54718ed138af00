#include "shell/animation_run.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <istream>
#include <system_error>

AnimationSpec readAnimationSpec(std::istream& in) {
    AnimationSpec plan;
    if (!(in >> plan.folder)) plan.folder.clear();
    if (!(in >> plan.prefix)) plan.prefix.clear();
    AnimationEntry previous;
    while (in) {
        AnimationEntry e = previous;
        if (!(in >> e.name)) break;
        // A number that does not read keeps the previous entry's value; the
        // stream has then failed, so this is the last entry.
        float* fields[5] = {&e.x, &e.y, &e.z, &e.alt, &e.az};
        for (float* f : fields) {
            float v;
            if (in >> v) *f = v;
        }
        plan.entries.push_back(e);
        previous = e;
    }
    plan.currentIndex = 0;
    return plan;
}

std::string frameFileName(const std::string& folder, const std::string& prefix, long long number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.6lld", number);
    return folder + "/" + prefix + digits + ".bmp";
}

bool gunzipFile(const std::string& from, const std::string& to) {
    gzFile gz = gzopen(from.c_str(), "rb");
    if (!gz) return false;
    bool ok = true;
    {
        std::ofstream out(to, std::ios::binary | std::ios::trunc);
        if (!out) {
            gzclose(gz);
            return false;
        }
        char buf[1 << 15];
        for (;;) {
            int n = gzread(gz, buf, sizeof buf);
            if (n < 0) {
                ok = false;
                break;
            }
            // zlib passes non-gzip input through unchanged; that is not a
            // stored grid, so refuse it rather than guess.
            if (gzdirect(gz)) {
                ok = false;
                break;
            }
            if (n == 0) break;
            out.write(buf, n);
            if (!out) {
                ok = false;
                break;
            }
        }
        out.flush();
        if (!out) ok = false;
    }
    if (gzclose(gz) != Z_OK) ok = false;
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove(to, ec);
    }
    return ok;
}

namespace {

// The grid must end in ".grd" to open as a document. name + ".grd" is the
// natural choice, but if such a file already exists it belongs to the user
// and must survive the run, so a private temporary name is taken instead.
std::string temporaryGridPath(const std::string& name, size_t index) {
    std::string preferred = name + ".grd";
    std::error_code ec;
    if (!std::filesystem::exists(preferred, ec) && !ec) return preferred;
    auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = ".";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        auto p = dir / ("cellforge-run-" + std::to_string(index) + "-" + std::to_string(attempt) + ".grd");
        if (!std::filesystem::exists(p, ec)) return p.string();
    }
    return {};
}

}  // namespace

void AnimationRunner::install(std::unique_ptr<AnimationSpec> plan) {
    // A run that was under way belongs to the old run list: its entry
    // index means nothing in the new one, so finish it off cleanly first.
    if (document_ || !temporaryGrid_.empty()) {
        // No host here; the document is closed on the next tick (see advance).
        staleDocument_ = document_;
        document_ = 0;
        removeTemporaryGrid();
    }
    plan_ = std::move(plan);
    waiting_ = false;
    step_ = 0;
    elapsedMs_ = 0;
    entryFailed_ = false;
    written_ = 0;
    missing_.clear();
}

void AnimationRunner::removeTemporaryGrid() {
    if (temporaryGrid_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(temporaryGrid_, ec);
    temporaryGrid_.clear();
}

void AnimationRunner::advance(AnimationHost& host) {
    // An action may show a modal message (a grid with a placement conflict),
    // whose event loop delivers further ticks; those must not start the next
    // step while this one is still running.
    if (busy_) return;
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(busy_);
    if (staleDocument_) {
        host.closeDocument(staleDocument_);
        staleDocument_ = 0;
    }
    if (waiting_) {
        elapsedMs_ += kTickMs;
        if (elapsedMs_ > kStepWaitMs) {
            waiting_ = false;
            if (step_ == 3) {
                step_ = 0;
                if (plan_) ++plan_->currentIndex;
            } else {
                ++step_;
            }
        }
        return;
    }
    if (!plan_) return;
    if (plan_->currentIndex >= plan_->entries.size()) {
        plan_.reset();
        step_ = 0;
        return;
    }
    waiting_ = true;
    elapsedMs_ = 0;
    const AnimationEntry& entry = plan_->entries[plan_->currentIndex];
    switch (step_) {
    case 0:
        entryFailed_ = false;
        temporaryGrid_ = temporaryGridPath(entry.name, plan_->currentIndex);
        if (temporaryGrid_.empty() || !gunzipFile(entry.name + ".gz", temporaryGrid_)) {
            temporaryGrid_.clear();
            entryFailed_ = true;
            const std::string why = "cannot read " + entry.name + ".gz";
            missing_.push_back(why);
            host.entryMissing(plan_->currentIndex, entry, why);
        }
        break;
    case 1:
        // The grid was inflated straight under its final name; nothing to move.
        break;
    case 2:
        if (!entryFailed_) {
            document_ = host.openGridDocument(temporaryGrid_);
            if (document_) {
                host.showEntry(document_, entry);
            } else {
                entryFailed_ = true;
                const std::string why = "cannot open the grid of " + entry.name;
                missing_.push_back(why);
                host.entryMissing(plan_->currentIndex, entry, why);
            }
        }
        break;
    case 3:
        if (document_) {
            const std::string picture = frameFileName(plan_->folder, plan_->prefix, (long long)plan_->currentIndex);
            if (host.saveFirstViewBitmap(document_, picture)) {
                ++written_;
            } else {
                const std::string why = "cannot write " + picture;
                missing_.push_back(why);
                host.entryMissing(plan_->currentIndex, entry, why);
            }
            host.closeDocument(document_);
            document_ = 0;
        }
        removeTemporaryGrid();
        entryFailed_ = false;
        break;
    }
}
