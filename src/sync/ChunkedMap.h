#pragma once

#include <QMap>

#include <algorithm>
#include <iterator>
#include <optional>
#include <type_traits>
#include <vector>

// An ordered map kept as a row of implicitly shared QMaps of at most
// `MaxChunk` entries each, in key order.
//
// The state's maps hold an entry per file, and a copy of them is handed to
// the worker that writes the state file or plans a folder while the main
// thread goes on changing the originals. A QMap shared that way copies all
// of its entries on the first change (tens of milliseconds at 100,000
// entries, a visible stall); here a copy shares each chunk, and a change
// copies only the chunk it touches.
//
// The interface is the part of QMap's the client uses, with the same
// meaning; iterators walk the chunks in turn, and an insert or an erase may
// move entries between chunks, so iterators do not survive either (except
// the one erase() returns).
template <typename Key, typename T, qsizetype MaxChunk = 1024>
class ChunkedMap {
    static_assert(MaxChunk >= 2);
    using Chunk = QMap<Key, T>;

    template <bool Const>
    class Iterator {
        using Map = std::conditional_t<Const, const ChunkedMap, ChunkedMap>;
        using Inner = std::conditional_t<Const, typename Chunk::const_iterator, typename Chunk::iterator>;

    public:
        using iterator_category = std::forward_iterator_tag;
        using difference_type = qptrdiff;
        using value_type = T;
        using pointer = std::conditional_t<Const, const T *, T *>;
        using reference = std::conditional_t<Const, const T &, T &>;

        Iterator() = default;
        // A const iterator from a mutable one.
        template <bool C = Const, typename = std::enable_if_t<C>>
        Iterator(const Iterator<false> &other) : m_map(other.m_map), m_chunk(other.m_chunk), m_it(other.m_it) {}

        const Key &key() const { return m_it.key(); }
        reference value() const { return m_it.value(); }
        reference operator*() const { return m_it.value(); }
        pointer operator->() const { return &m_it.value(); }

        Iterator &operator++()
        {
            if (++m_it == chunkEnd())
                settle(m_chunk + 1);
            return *this;
        }
        Iterator operator++(int)
        {
            Iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const Iterator &a, const Iterator &b)
        {
            return a.m_chunk == b.m_chunk && (a.isEnd() || a.m_it == b.m_it);
        }

    private:
        friend class ChunkedMap;
        friend class Iterator<!Const>;

        Iterator(Map *map, size_t chunk, Inner it) : m_map(map), m_chunk(chunk), m_it(it) {}
        // The first entry of chunk `chunk`, or the end.
        static Iterator atChunk(Map *map, size_t chunk)
        {
            Iterator it(map, chunk, Inner{});
            it.settle(chunk);
            return it;
        }
        void settle(size_t chunk)
        {
            m_chunk = chunk;
            m_it = isEnd() ? Inner{} : Inner(m_map->m_chunks[chunk].begin());
        }
        Inner chunkEnd() const { return m_map->m_chunks[m_chunk].end(); }
        bool isEnd() const { return !m_map || m_chunk >= m_map->m_chunks.size(); }

        Map *m_map = nullptr;
        size_t m_chunk = 0;
        Inner m_it{};
    };

public:
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    qsizetype size() const { return m_size; }
    qsizetype count() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    void clear() { *this = ChunkedMap(); }

    const_iterator cbegin() const { return const_iterator::atChunk(this, 0); }
    const_iterator cend() const { return const_iterator::atChunk(this, m_chunks.size()); }
    const_iterator begin() const { return cbegin(); }
    const_iterator end() const { return cend(); }
    const_iterator constBegin() const { return cbegin(); }
    const_iterator constEnd() const { return cend(); }
    // Mutable iteration copies each shared chunk as it reaches it.
    iterator begin() { return iterator::atChunk(this, 0); }
    iterator end() { return iterator::atChunk(this, m_chunks.size()); }

    const Key &firstKey() const { return m_chunks.front().firstKey(); }
    const Key &lastKey() const { return m_chunks.back().lastKey(); }
    const T &first() const { return m_chunks.front().first(); }
    QList<Key> keys() const
    {
        QList<Key> out;
        out.reserve(m_size);
        for (const Chunk &chunk : m_chunks)
            out += chunk.keys();
        return out;
    }

    bool contains(const Key &key) const { return !isEmpty() && m_chunks[chunkFor(key)].contains(key); }
    T value(const Key &key, const T &fallback = T()) const
    {
        return isEmpty() ? fallback : m_chunks[chunkFor(key)].value(key, fallback);
    }

    const_iterator constFind(const Key &key) const
    {
        if (isEmpty())
            return cend();
        const size_t chunk = chunkFor(key);
        const auto it = m_chunks[chunk].constFind(key);
        return it == m_chunks[chunk].cend() ? cend() : const_iterator(this, chunk, it);
    }
    const_iterator find(const Key &key) const { return constFind(key); }
    iterator find(const Key &key)
    {
        const auto chunk = chunkHolding(key);
        return chunk ? iterator(this, *chunk, m_chunks[*chunk].find(key)) : end();
    }

    // The first entry whose key is not below `key`.
    const_iterator lowerBound(const Key &key) const
    {
        if (isEmpty())
            return cend();
        const size_t chunk = chunkFor(key);
        const auto it = m_chunks[chunk].lowerBound(key);
        return it == m_chunks[chunk].cend() ? const_iterator::atChunk(this, chunk + 1)
                                            : const_iterator(this, chunk, it);
    }
    iterator lowerBound(const Key &key)
    {
        if (isEmpty())
            return end();
        const size_t chunk = chunkFor(key);
        const auto it = std::as_const(m_chunks[chunk]).lowerBound(key);
        if (it == m_chunks[chunk].cend())
            return iterator::atChunk(this, chunk + 1);
        return iterator(this, chunk, m_chunks[chunk].find(it.key()));
    }

    // Inserts or replaces. Keys that come in ascending order (as a file is
    // read back) fill each chunk in turn.
    iterator insert(const Key &key, const T &value)
    {
        if (isEmpty() || lastKey() < key) {
            if (isEmpty() || m_chunks.back().size() >= MaxChunk)
                m_chunks.emplace_back();
            m_chunks.back().insert(m_chunks.back().cend(), key, value);
            ++m_size;
            return iterator(this, m_chunks.size() - 1, std::prev(m_chunks.back().end()));
        }
        const size_t chunk = chunkFor(key);
        const qsizetype before = m_chunks[chunk].size();
        m_chunks[chunk].insert(key, value);
        m_size += m_chunks[chunk].size() - before;
        if (m_chunks[chunk].size() > MaxChunk)
            split(chunk);
        return find(key);
    }

    // The number of entries removed (0 or 1).
    qsizetype remove(const Key &key)
    {
        const auto chunk = chunkHolding(key);
        if (!chunk)
            return 0;
        m_chunks[*chunk].remove(key);
        dropIfEmpty(*chunk);
        --m_size;
        return 1;
    }
    T take(const Key &key)
    {
        const auto chunk = chunkHolding(key);
        if (!chunk)
            return T();
        T taken = m_chunks[*chunk].take(key);
        dropIfEmpty(*chunk);
        --m_size;
        return taken;
    }
    // Removes the entry at `it` and returns the one after it.
    iterator erase(iterator it)
    {
        const size_t chunk = it.m_chunk;
        const auto next = m_chunks[chunk].erase(it.m_it);
        --m_size;
        if (m_chunks[chunk].isEmpty()) {
            m_chunks.erase(m_chunks.begin() + qptrdiff(chunk));
            return iterator::atChunk(this, chunk);
        }
        return next == m_chunks[chunk].end() ? iterator::atChunk(this, chunk + 1) : iterator(this, chunk, next);
    }

    T &operator[](const Key &key)
    {
        const auto chunk = chunkHolding(key);
        return chunk ? *m_chunks[*chunk].find(key) : *insert(key, T());
    }
    T operator[](const Key &key) const { return value(key); }

    // Whether every chunk is still shared with `other`'s: neither has
    // changed since one was copied from the other.
    bool isSharedWith(const ChunkedMap &other) const
    {
        return m_chunks.size() == other.m_chunks.size()
            && std::equal(m_chunks.cbegin(), m_chunks.cend(), other.m_chunks.cbegin(),
                          [](const Chunk &a, const Chunk &b) { return a.isSharedWith(b); });
    }

    friend bool operator==(const ChunkedMap &a, const ChunkedMap &b)
    {
        if (a.size() != b.size())
            return false;
        for (auto x = a.cbegin(), y = b.cbegin(); x != a.cend(); ++x, ++y) {
            if (!(x.key() == y.key()) || !(*x == *y))
                return false;
        }
        return true;
    }

private:
    // The chunk that holds `key` or would take it: the last whose first key
    // is not above it, or the first chunk. Not for an empty map.
    size_t chunkFor(const Key &key) const
    {
        const auto after = std::upper_bound(m_chunks.cbegin() + 1, m_chunks.cend(), key,
                                            [](const Key &k, const Chunk &c) { return k < c.firstKey(); });
        return size_t(after - m_chunks.cbegin()) - 1;
    }
    // The chunk that holds `key`, if any. Asked before a change: a shared
    // chunk is copied by any change, even the removal of a missing key.
    std::optional<size_t> chunkHolding(const Key &key) const
    {
        if (isEmpty())
            return std::nullopt;
        const size_t chunk = chunkFor(key);
        return m_chunks[chunk].contains(key) ? std::optional(chunk) : std::nullopt;
    }
    // Moves the upper half of an overfull chunk into a new one after it.
    void split(size_t chunk)
    {
        Chunk &full = m_chunks[chunk];
        const auto middle = std::next(full.cbegin(), full.size() / 2);
        Chunk upper;
        for (auto it = middle; it != full.cend(); ++it)
            upper.insert(upper.cend(), it.key(), it.value());
        full.erase(middle, full.cend());
        m_chunks.insert(m_chunks.begin() + qptrdiff(chunk) + 1, std::move(upper));
    }
    void dropIfEmpty(size_t chunk)
    {
        if (m_chunks[chunk].isEmpty())
            m_chunks.erase(m_chunks.begin() + qptrdiff(chunk));
    }

    std::vector<Chunk> m_chunks; // none empty
    qsizetype m_size = 0;
};
