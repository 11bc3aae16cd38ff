// The table of ln(k!) behind the six decimals, and its capacity: the
// largest total the single run takes.
#ifndef FISHER2X2_CLASSIC_LOG_FACTORIAL_H
#define FISHER2X2_CLASSIC_LOG_FACTORIAL_H

// Largest total a+b+c+d the table can hold.
constexpr int kMaxTotal = 50000;

// ln(k!) for k = 0 .. kMaxTotal; entries past the current run's N are never
// touched. The single run fills it once; the library grows it under a lock
// (classic_pvalue.h). Every other reader only reads it.
extern double LogFactorial[kMaxTotal + 1];

// Sets LogFactorial[0 .. n], 0 <= n <= kMaxTotal, by cumulative sums of
// log(i) carried in Extended and stored as double.
void FillLogFactorial(int n);

// With LogFactorial[0 .. filled] set, sets the entries filled+1 .. n the same
// way. Each entry depends only on those before it, so the table is the same
// bits however it is extended.
void ExtendLogFactorial(int filled, int n);

#endif  // FISHER2X2_CLASSIC_LOG_FACTORIAL_H
