#include "app/AnswerLines.h"

#include <algorithm>

namespace tarvel {

AnswerLines AnswerLines::with(std::string line) const {
    std::shared_ptr<Store> store = store_;
    if (!store || store->used != count_ || store->used == store->room) {
        store = std::make_shared<Store>(std::max<std::size_t>(16, 2 * count_));
        std::copy(begin(), end(), store->lines.get());
        store->used = count_;
    }
    store->lines[count_] = std::move(line);
    ++store->used;
    return AnswerLines(std::move(store), count_ + 1);
}

}  // namespace tarvel
