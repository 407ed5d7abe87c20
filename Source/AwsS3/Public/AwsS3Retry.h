#pragma once

#include "AwsS3Types.h"

#include <QRandomGenerator>
#include <QtGlobal>

// When a failed storage request goes again: the single put, the parts of the multi-part put and
// the presigned parts all follow this one rule, so a store turned away by a burst sees all of them
// back off alike.

namespace AwsS3
{
// Whether attempt AttemptsMade + 1 may still be made.
inline bool MayRetry(int AttemptsMade, const FS3ClientConfiguration& Configuration)
{
	return AttemptsMade < Configuration.MaxAttempts;
}

// The pause before attempt AttemptsMade + 1, in milliseconds: a random time below
// RetryBaseDelaySeconds * 2^(AttemptsMade - 1), capped at RetryMaxDelaySeconds ("full jitter",
// as the AWS SDKs do).
inline int RetryDelayMs(int AttemptsMade, const FS3ClientConfiguration& Configuration)
{
	const double Bound =
	    qMin(Configuration.RetryMaxDelaySeconds,
	         Configuration.RetryBaseDelaySeconds * double(qint64(1) << qBound(0, AttemptsMade - 1, 30)));
	return int(QRandomGenerator::global()->bounded(qMax(Bound, 0.0)) * 1000.0);
}
} // namespace AwsS3
