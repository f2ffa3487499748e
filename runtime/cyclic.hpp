#pragma once
// Link-protocol sequence numbers: a value modulo Mask + 1 (Mask is all ones,
// 127 for LAPD and MTP level 2) with wrapping arithmetic and a window test.
// `a <= b <= c` reads "b lies in the cyclic window from a to c, both ends
// included", which is how a link checks an acknowledged number against the
// oldest unacknowledged one and the next one to send.

template <class T, T Mask> class Cyclic
{
    static_assert((Mask & (Mask + 1)) == 0, "the mask must be all ones");

public:
    class LessEqPair
    {
    public:
        LessEqPair(T a, T b) : mA(a), mB(b) {}
        bool operator<=(Cyclic c) const { return ((mB - mA) & Mask) <= ((T(c) - mA) & Mask); }

    private:
        T mA;
        T mB;
    };

    Cyclic() = default;
    Cyclic(T v) : mValue(v & Mask) {}
    operator T() const { return mValue; }

    Cyclic& operator++()
    {
        mValue = (mValue + 1) & Mask;
        return *this;
    }
    Cyclic operator++(int)
    {
        Cyclic before = *this;
        ++*this;
        return before;
    }
    Cyclic& operator--()
    {
        mValue = (mValue - 1) & Mask;
        return *this;
    }

    Cyclic operator+(Cyclic b) const { return Cyclic((mValue + b.mValue) & Mask); }
    Cyclic operator-(Cyclic b) const { return Cyclic((mValue - b.mValue) & Mask); }
    LessEqPair operator<=(Cyclic b) const { return LessEqPair(mValue, b.mValue); }

private:
    T mValue = 0;
};
