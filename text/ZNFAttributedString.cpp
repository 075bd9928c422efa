#include "text/ZNFAttributedString.h"

#include <algorithm>

namespace {

const ZNFTextAttributesPtr& noAttributes() {
    static const ZNFTextAttributesPtr empty = std::make_shared<const ZNFTextAttributes>();
    return empty;
}

ZNFTextAttributesPtr orEmpty(ZNFTextAttributesPtr attributes) {
    return attributes ? std::move(attributes) : noAttributes();
}

} // namespace

ZNFAttributedString::ZNFAttributedString(const QString& string) : ZNFAttributedString(string, nullptr) {}

ZNFAttributedString::ZNFAttributedString(const QString& string, const ZNFTextAttributes& attributes)
    : ZNFAttributedString(string, ZNFMakeAttributes(attributes)) {}

ZNFAttributedString::ZNFAttributedString(const QString& string, ZNFTextAttributesPtr attributes)
    : m_string(string) {
    if (!m_string.isEmpty())
        m_runs.push_back(Run{ZNFRange{0, m_string.size()}, orEmpty(std::move(attributes))});
}

ZNFRange ZNFAttributedString::clipped(ZNFRange range) const {
    const qsizetype len = m_string.size();
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, len);
    const qsizetype end =
        std::clamp<qsizetype>(range.length < 0 ? start : range.location + range.length, start, len);
    return ZNFRange{start, end - start};
}

ZNFTextAttributesPtr ZNFAttributedString::attributesAtIndex(qsizetype index, ZNFRange* effectiveRange) const {
    if (index < 0 || index >= m_string.size())
        return nullptr;
    auto it = std::upper_bound(m_runs.begin(), m_runs.end(), index,
                               [](qsizetype i, const Run& run) { return i < run.range.location; });
    if (it == m_runs.begin())
        return nullptr;
    --it;
    if (effectiveRange)
        *effectiveRange = it->range;
    return it->attributes;
}

void ZNFAttributedString::enumerateAttributes(
    ZNFRange range, const std::function<void(const ZNFTextAttributesPtr&, ZNFRange)>& fn) const {
    const ZNFRange r = clipped(range);
    // Runs are in order: start at the one that holds the range's start, not at the first.
    auto it = std::upper_bound(m_runs.begin(), m_runs.end(), r.location,
                               [](qsizetype i, const Run& run) { return i < run.range.location; });
    if (it != m_runs.begin())
        --it;
    for (; it != m_runs.end(); ++it) {
        const Run& run = *it;
        const qsizetype start = std::max(run.range.location, r.location);
        const qsizetype end = std::min(run.range.end(), r.end());
        if (start < end)
            fn(run.attributes, ZNFRange{start, end - start});
        if (run.range.location >= r.end())
            break;
    }
}

ZNFAttributedString ZNFAttributedString::attributedSubstringFromRange(ZNFRange range) const {
    const ZNFRange r = clipped(range);
    ZNFAttributedString out;
    out.m_string = m_string.mid(r.location, r.length);
    enumerateAttributes(r, [&](const ZNFTextAttributesPtr& attributes, ZNFRange piece) {
        out.m_runs.push_back(Run{ZNFRange{piece.location - r.location, piece.length}, attributes});
    });
    return out;
}

std::size_t ZNFAttributedString::splitAt(qsizetype index) {
    for (std::size_t i = 0; i < m_runs.size(); ++i) {
        Run& run = m_runs[i];
        if (run.range.location == index)
            return i;
        if (run.range.contains(index)) {
            Run tail{ZNFRange{index, run.range.end() - index}, run.attributes};
            run.range.length = index - run.range.location;
            m_runs.insert(m_runs.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
            return i + 1;
        }
    }
    return m_runs.size();
}

void ZNFAttributedString::replaceCharactersInRange(ZNFRange range, const QString& string) {
    const ZNFRange r = clipped(range);
    ZNFTextAttributesPtr inherited;
    if (r.length > 0)
        inherited = attributesAtIndex(r.location);
    else if (r.location > 0)
        inherited = attributesAtIndex(r.location - 1);
    else
        inherited = attributesAtIndex(0);

    // Cut the replaced range out of the runs, then open a run for the new characters.
    const std::size_t first = splitAt(r.location);
    const std::size_t last = splitAt(r.end());
    m_runs.erase(m_runs.begin() + static_cast<std::ptrdiff_t>(first),
                 m_runs.begin() + static_cast<std::ptrdiff_t>(last));
    const qsizetype delta = string.size() - r.length;
    for (std::size_t i = first; i < m_runs.size(); ++i)
        m_runs[i].range.location += delta;
    if (!string.isEmpty())
        m_runs.insert(m_runs.begin() + static_cast<std::ptrdiff_t>(first),
                      Run{ZNFRange{r.location, string.size()}, orEmpty(inherited)});
    m_string.replace(r.location, r.length, string);
    coalesceRuns();
}

void ZNFAttributedString::setAttributes(const ZNFTextAttributes& attributes, ZNFRange range) {
    setAttributes(ZNFMakeAttributes(attributes), range);
}

void ZNFAttributedString::setAttributes(ZNFTextAttributesPtr attributes, ZNFRange range) {
    const ZNFRange r = clipped(range);
    if (r.length == 0)
        return;
    const std::size_t first = splitAt(r.location);
    const std::size_t last = splitAt(r.end());
    m_runs.erase(m_runs.begin() + static_cast<std::ptrdiff_t>(first),
                 m_runs.begin() + static_cast<std::ptrdiff_t>(last));
    m_runs.insert(m_runs.begin() + static_cast<std::ptrdiff_t>(first),
                  Run{r, orEmpty(std::move(attributes))});
    coalesceRuns();
}

void ZNFAttributedString::addAttributes(const ZNFTextAttributes& attributes, ZNFRange range) {
    const ZNFRange r = clipped(range);
    if (r.length == 0)
        return;
    const std::size_t first = splitAt(r.location);
    const std::size_t last = splitAt(r.end());
    for (std::size_t i = first; i < last; ++i)
        m_runs[i].attributes = ZNFMakeAttributes(m_runs[i].attributes->mergedWith(attributes));
    coalesceRuns();
}

void ZNFAttributedString::appendAttributedString(const ZNFAttributedString& other) {
    const qsizetype offset = m_string.size();
    m_string += other.m_string;
    for (const Run& run : other.m_runs)
        m_runs.push_back(Run{ZNFRange{run.range.location + offset, run.range.length}, run.attributes});
    coalesceRuns();
}

void ZNFAttributedString::appendString(const QString& string, const ZNFTextAttributes& attributes) {
    appendAttributedString(ZNFAttributedString(string, attributes));
}

void ZNFAttributedString::coalesceRuns() {
    std::vector<Run> joined;
    joined.reserve(m_runs.size());
    for (Run& run : m_runs) {
        if (run.range.length <= 0)
            continue;
        if (!joined.empty() &&
            (joined.back().attributes == run.attributes || *joined.back().attributes == *run.attributes)) {
            joined.back().range.length += run.range.length;
            continue;
        }
        joined.push_back(std::move(run));
    }
    m_runs = std::move(joined);
}

bool operator==(const ZNFAttributedString& a, const ZNFAttributedString& b) {
    if (a.m_string != b.m_string)
        return false;
    // Both are coalesced, but runs made elsewhere may hold equal attributes in two objects.
    qsizetype i = 0;
    while (i < a.length()) {
        ZNFRange ra, rb;
        const auto pa = a.attributesAtIndex(i, &ra);
        const auto pb = b.attributesAtIndex(i, &rb);
        if (pa != pb && *pa != *pb)
            return false;
        i = std::min(ra.end(), rb.end());
    }
    return true;
}
