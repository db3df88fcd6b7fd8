#pragma once

#include <QList>

#include <atomic>
#include <memory>
#include <mutex>

// The slideshow settings of one album, shared by the editor and the
// conversion worker: each field is read and written whole.
class DNGraphicsSetting {
public:
    using Transitions = std::shared_ptr<const QList<qint64>>;

    // Sort keys and orders of `sortby` and `ascOrDesc`.
    static constexpr int kSortByName = 100;
    static constexpr int kSortBySize = 101;
    static constexpr int kSortByDate = 102;
    static constexpr int kSortByPosition = 103;
    static constexpr int kAscending = -1;
    static constexpr int kDescending = 1;

    DNGraphicsSetting();

    // A new setting with the same values; the transitions list is the same
    // list, not a copy of it.
    std::shared_ptr<DNGraphicsSetting> copy() const;

    float interval() const { return m_interval; }
    void setInterval(float seconds) { m_interval = seconds; }
    int sortby() const { return m_sortby; }
    void setSortby(int key) { m_sortby = key; }
    int ascOrDesc() const { return m_ascOrDesc; }
    void setAscOrDesc(int order) { m_ascOrDesc = order; }
    // NXTransitionType numbers the slideshow may use.
    Transitions transitions() const;
    void setTransitions(Transitions transitions);

private:
    std::atomic<float> m_interval { 2.0f };
    std::atomic<int> m_sortby { kSortByPosition };
    std::atomic<int> m_ascOrDesc { kAscending };
    mutable std::mutex m_mutex;
    Transitions m_transitions; // guarded by m_mutex
};
