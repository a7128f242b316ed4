#pragma once

#include "platform/framework/ValueTypes.h"

namespace DistributedQEL {

// The report totals the framework gathers for a phase.
class CCoordinatorReports {
 public:
  virtual ~CCoordinatorReports() = default;
  void getTotalData(ReportData& data) const { data = totals_; }
  void setTotalData(const ReportData& data) { totals_ = data; }

 private:
  ReportData totals_;
};

}  // namespace DistributedQEL
