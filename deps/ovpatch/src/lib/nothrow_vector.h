#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace ovpatch {

// A flat vector of trivially copyable values whose growth never throws: an
// allocation failure is a false result and leaves the contents unchanged.
// Programs of large executables hold millions of entries, so the capacity
// doubles from the initial one given at construction.
template <typename T> class NoThrowVector
{
    static_assert(std::is_trivially_copyable<T>::value, "NoThrowVector holds plain values only");

public:
    explicit NoThrowVector(size_t initialCapacity = 64)
        : m_InitialCapacity(initialCapacity ? initialCapacity : 1)
    {
    }
    ~NoThrowVector() { std::free(m_Data); }
    NoThrowVector(const NoThrowVector &) = delete;
    NoThrowVector &operator=(const NoThrowVector &) = delete;

    bool push_back(const T &value)
    {
        if (m_Size == m_Capacity && !grow(m_Size + 1))
            return false;
        m_Data[m_Size++] = value;
        return true;
    }

    bool append(const T *values, size_t n)
    {
        if (n == 0)
            return true;
        if (n > std::numeric_limits<size_t>::max() - m_Size)
            return false;
        if (m_Size + n > m_Capacity && !grow(m_Size + n))
            return false;
        std::memcpy(m_Data + m_Size, values, n * sizeof(T));
        m_Size += n;
        return true;
    }

    // Grows to n entries, filling new ones with fill; shrinking keeps the
    // capacity.
    bool resize(size_t n, const T &fill)
    {
        if (n > m_Capacity && !grow(n))
            return false;
        for (size_t i = m_Size; i < n; ++i)
            m_Data[i] = fill;
        m_Size = n;
        return true;
    }

    bool reserve(size_t n) { return n <= m_Capacity || grow(n); }
    void clear() { m_Size = 0; }

    size_t size() const { return m_Size; }
    bool empty() const { return m_Size == 0; }
    T *data() { return m_Data; }
    const T *data() const { return m_Data; }
    T &operator[](size_t i) { return m_Data[i]; }
    const T &operator[](size_t i) const { return m_Data[i]; }
    T &back() { return m_Data[m_Size - 1]; }
    const T &back() const { return m_Data[m_Size - 1]; }
    T *begin() { return m_Data; }
    T *end() { return m_Data + m_Size; }
    const T *begin() const { return m_Data; }
    const T *end() const { return m_Data + m_Size; }

private:
    bool grow(size_t needed)
    {
        const size_t maxEntries = std::numeric_limits<size_t>::max() / sizeof(T);
        if (needed > maxEntries)
            return false;
        size_t capacity = m_Capacity ? m_Capacity : m_InitialCapacity;
        while (capacity < needed)
            capacity = capacity > maxEntries / 2 ? maxEntries : capacity * 2;
        void *grown = std::realloc(m_Data, capacity * sizeof(T));
        if (!grown)
            return false;
        m_Data = static_cast<T *>(grown);
        m_Capacity = capacity;
        return true;
    }

    T *m_Data = nullptr;
    size_t m_Size = 0;
    size_t m_Capacity = 0;
    size_t m_InitialCapacity;
};

} // namespace ovpatch
