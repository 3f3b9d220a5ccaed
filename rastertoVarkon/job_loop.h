// The job loop of rastertoVarkon: command line, raster pages in, printer
// command stream out through the output sink, and the end of the job.
#pragma once

// SIGTERM handler: raises Canceled; the loop ends the job at the next safe point.
void CancelJob(int sig);

namespace varkon {

// Runs one job with the CUPS filter command line
// "rastertoVarkon job-id user title copies options [file]" and returns the
// exit status: 0 when pages were printed; 1 for a wrong command line, an
// unreadable raster file, no pages, a refused page, a spool file that could
// not be made, or printer data that could not be written.
int run_job(int argc, char *argv[]);

} // namespace varkon
