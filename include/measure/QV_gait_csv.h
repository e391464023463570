// The gait trace's data as plain CSV files, for plotting. docs/gait-csv.md
// lists the files and their columns with units.
#ifndef QV_GAIT_CSV_H
#define QV_GAIT_CSV_H

#include <string>
#include <vector>

namespace walker
{

// Traces the actor file as walkertrace does and writes into dir (made when
// missing): walks.csv, and for each walk slot N holding an action
// slotN_angles.csv, slotN_pelvis.csv, slotN_feet.csv and
// slotN_root_speed.csv. Returns the paths written. Throws the loader's
// cXmlError on a bad file and std::runtime_error when the legs cannot be
// found or a file cannot be written.
std::vector<std::string> ExportGaitCSV(const char* actorPath, const std::string& dir);

} // namespace walker

#endif // QV_GAIT_CSV_H
