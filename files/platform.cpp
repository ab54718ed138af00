#include "files/platform.h"

#include <algorithm>

#include "files/document.h"
#include "files/grid_file.h"
#include "files/project.h"

HeadlessPlatform::HeadlessPlatform() = default;
HeadlessPlatform::~HeadlessPlatform() = default;

CellforgeDocument* HeadlessPlatform::openDocument(const std::string& path) {
    if (!hasGridSuffix(path)) return nullptr;
    const std::string full = fullPath(path);
    for (auto& d : documents_)
        if (d->path() == full) {
            addRecentFile(full);
            return d.get();
        }
    auto doc = std::make_unique<CellforgeDocument>();
    doc->universe().onConflict = [this](const std::string& msg) { messageBox(msg); };
    bool opened = false;
    lastGridRead = GridReadResult{};
    doc->withUniverse([&](Universe& u) { opened = openGridDocument(u, path, &lastGridRead); });
    if (!opened) return nullptr;
    doc->setPath(full);
    documents_.push_back(std::move(doc));
    addRecentFile(full);
    return documents_.back().get();
}

CellforgeDocument* HeadlessPlatform::adopt(std::unique_ptr<CellforgeDocument> document) {
    documents_.push_back(std::move(document));
    return documents_.back().get();
}

void HeadlessPlatform::closeDocument(CellforgeDocument* document) {
    auto it = std::find_if(documents_.begin(), documents_.end(), [&](auto& d) { return d.get() == document; });
    if (it != documents_.end()) documents_.erase(it);
}

void HeadlessPlatform::addRecentFile(const std::string& path) {
    recent_.erase(std::remove(recent_.begin(), recent_.end(), path), recent_.end());
    recent_.insert(recent_.begin(), path);
    if (recent_.size() > kRecentFileCount) recent_.resize(kRecentFileCount);
}

void HeadlessPlatform::messageBox(const std::string& text) {
    std::lock_guard<std::mutex> lock(messageLock_);
    messages_.push_back(text);
    if (messageSink) messageSink(text);
}

std::vector<std::string> HeadlessPlatform::messages() const {
    std::lock_guard<std::mutex> lock(messageLock_);
    return messages_;
}
