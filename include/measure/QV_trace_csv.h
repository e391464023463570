// The traces' data as plain CSV files, for plotting. docs/gait-csv.md lists
// the files and their columns with units. Each file is written beside its
// place under a temporary name and renamed into it once whole, so a failure
// leaves no half-written file.
#ifndef QV_TRACE_CSV_H
#define QV_TRACE_CSV_H

#include <string>
#include <vector>

namespace measure
{

// Traces the actor file as walkertrace does and writes into dir (made when
// missing): walks.csv, and for each walk slot N slotN_angles.csv,
// slotN_pelvis.csv, slotN_feet.csv and slotN_root_speed.csv. Returns the
// paths written. Throws the reader's cXmlError on a bad file and
// cMeasureError when the demo cannot play it, the legs cannot be found or a
// file cannot be written.
std::vector<std::string> ExportGaitCSV(const std::string& actorPath, const std::string& dir);

// A start and a stop frame by frame, as motiontrace --csv writes them: the
// motion-fidelity switches both off into dir/motion_off.csv and both on into
// dir/motion_on.csv (dir made when missing). Returns the paths written;
// throws as ExportGaitCSV does.
std::vector<std::string> ExportMotionCSV(const std::string& actorPath, const std::string& dir);

} // namespace measure

#endif // QV_TRACE_CSV_H
