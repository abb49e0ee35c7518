#pragma once
// Items made once and kept for whoever asks again (the lens kernels of a
// shot), safe from several threads. An item handed out stays valid while it
// is held, whatever the store drops.
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

template <class Key, class Item>
class KeptItems {
public:
    // The item of key when it is kept, else null.
    std::shared_ptr<const Item> Find(const Key& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = items_.find(key);
        return found == items_.end() ? nullptr : found->second.item;
    }

    // Keeps item (of bytes bytes) for key; another thread's item, if one
    // came first, is the one kept and returned.
    std::shared_ptr<const Item> Keep(const Key& key, std::shared_ptr<const Item> item, std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto placed = items_.emplace(key, Entry{std::move(item), bytes});
        if (placed.second) bytes_ += bytes;
        return placed.first->second.item;
    }

    // When more than bytes are kept, only the items held elsewhere stay.
    void Trim(std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (bytes_ <= bytes) return;
        for (auto it = items_.begin(); it != items_.end();) {
            if (it->second.item.use_count() > 1) {
                ++it;
                continue;
            }
            bytes_ -= it->second.bytes;
            it = items_.erase(it);
        }
    }

private:
    struct Entry {
        std::shared_ptr<const Item> item;
        std::size_t bytes;
    };
    std::mutex mutex_;
    std::map<Key, Entry> items_;
    std::size_t bytes_ = 0;
};
