#pragma once
// The answer lines of a cycle as every copy of the main state shares them.
// The cycle adds one line at a time and the window is sent a copy after
// each; a copy keeps the lines it had whatever is added later, and adding a
// line costs that line, not a copy of the list.

#include <cstddef>
#include <memory>
#include <string>

namespace tarvel {

class AnswerLines {
  public:
    using value_type = std::string;
    using const_iterator = const std::string*;

    AnswerLines() = default;

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const std::string& operator[](std::size_t i) const { return store_->lines[i]; }
    const_iterator begin() const { return store_ ? store_->lines.get() : nullptr; }
    const_iterator end() const { return begin() + count_; }

    // These lines and `line` after them. Lines are added from one thread;
    // the copies may be read on others once handed over. A copy's lines are
    // never written again: the new line goes into the room after the last
    // line added to the shared storage, or into new storage when this copy
    // is not the last one or the room is full.
    AnswerLines with(std::string line) const;

  private:
    struct Store {
        explicit Store(std::size_t capacity)
            : lines(std::make_unique<std::string[]>(capacity)), room(capacity) {}
        std::unique_ptr<std::string[]> lines;
        std::size_t room;
        std::size_t used = 0;  // lines written; only the adding thread reads it
    };
    AnswerLines(std::shared_ptr<Store> store, std::size_t count)
        : store_(std::move(store)), count_(count) {}

    std::shared_ptr<Store> store_;
    std::size_t count_ = 0;
};

}  // namespace tarvel
