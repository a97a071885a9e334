// The help texts: what each command reads, what it refuses and what it prints.
#include <cstring>

#include "cli.hpp"

namespace orienta::cli {

namespace {

constexpr const char* kGeneral = R"(usage: orienta COMMAND [OPTIONS] [FILE]

Commands:
  demo        the 3D and 2D adjustments of the bundled control points
  helmert3d   3D similarity (seven parameters) from pairs of 3D points
  helmert2d   2D similarity from pairs of 2D points
  poly2d      2D affine or polynomial transformation (and the described kinds)
  apply       carry points through a fitted transformation, or its inverse
  export      a fit as a PROJ operation, a world file, GDAL control points or QGIS .points

'orienta COMMAND --help' describes each command; 'orienta --version' prints the version.
Exit status: 0 done; 1 printed, but not trustworthy (a warning on standard error says why);
2 error (bad options or input, degenerate points), nothing printed on standard output.
)";

constexpr const char* kDemo = R"(usage: orienta demo [--described] [--units rad|deg|gon|arcsec|dms] [--json]

Runs helmert3d on the bundled examples/data/control3d.txt (ten control points of a site,
local frame to UTM grid with heights) and helmert2d on examples/data/control2d.txt (twelve
cadastral points, old plane grid to UTM). The data are compiled into the program.
With --json, one document {"helmert3d": ..., "helmert2d": ...}.
)";

constexpr const char* kEntrada = R"(
Input: one point pair a line, an optional point id first. Columns are separated by blanks,
tabs, ';' or ','; a column may be quoted ("P 101", "" for a quote inside); '#' starts a
comment, blank lines are ignored. A first line of names alone (id x y z E N H) is a header
row and is skipped; the data must have the columns it names. The first data line settles the
layout of the whole file
(an id or not, how many sigma): a later line that differs is refused with its line number. A
first column that is a number with a fraction (100.25) is a coordinate, a whole number or a
text is an id; where a line still reads two ways the command says so, and --ids (or --sigmas)
settles it. Numbers are decimal with a '.'; hexadecimal is refused, and so is a decimal comma
(12,5) unless --decimal-comma is given. FILE '-' or no FILE reads standard input. A repeated
point id is warned about.
Two files, SOURCE TARGET, are two point lists joined by point id: '[id] x y [z]' a line in
each (sigma, with --sigma, after the target's coordinates), paired in the source's order;
points in one list only are listed and left out, and an id twice in a list is refused.

  --ids yes|no   whether column 1 holds point ids (default: as the first data line shows)
  --columns LIST  what each column of the file holds, in the file's order, comma-separated:
                 id, the source x y (z), the target X Y (Z), sigma (3D: sigma, or sigma_plan
                 and sigma_height; naming one implies --sigma), '-' for a column to ignore.
                 Every line must then have exactly these columns (a header row too); with
                 --columns nothing is guessed: e.g. --columns id,-,x,y,z,X,Y,Z,sigma
  --decimal-comma  read ',' as the decimal point; columns are then separated by blanks, tabs
                 or ';'
)";

constexpr const char* kAjuste = R"(
By default the rigorous least-squares adjustment: parameters with standard deviations,
redundancy, sigma0, the correlation matrix, and per pair the residuals v = transformed source -
target and standardized residuals w (Pope's tau; Baarda's with --sigma), flagged with * where
|w| exceeds 3.29 or K; and Baarda's internal reliability: the redundancy number r and the
minimal detectable bias MDB = delta0*sigma/sqrt(r), the smallest blunder the test at that
threshold finds with 80 % power (delta0 = threshold + 0.84; sigma the coordinate's a priori
sigma, sigma0 without), of the pair's weakest coordinate, and 'uncontrolled' where r < 0.1:
a blunder there is mostly absorbed by the fit and hardly shows in its residual. The JSON gives
r and mdb for every coordinate.

  --sigma        each line ends with the pair's a priori sigma in the units of the
                 coordinates (in 3D one, or two: plan sigma, height sigma; every line the
                 same count); prints the global chi2 test. A sigma lies within 1e-150 ... 1e150
  --snoop [K]    data snooping: exclude the worst pair while its |w| exceeds K (default
                 3.29), refit; excluded pairs are listed with residuals against the final fit
  --snoop-alpha A  data snooping with the threshold that all the tests together (one per
                 coordinate) exceed on clean data with probability A (Sidak: each test at
                 1 - (1 - A)^(1/m)), so a large clean set keeps its points; stated in the report
  --robust METHOD  a fit that survives many wrong pairs (automatic matching), instead of
                 --snoop; its statistics are those of the rigorous adjustment of the pairs kept:
                 msac (or ransac): random minimal samples scored by sum min(|v|^2, M^2), the best
                   refitted on its inliers while they grow, stopped once a clean sample has
                   been drawn with probability 0.999 (at most 10000 samples); pairs beyond the
                   threshold are excluded, listed with their residuals against the final fit
                 huber: reweighted least squares from that start, weights min(1, 1.345/u)
                 danish: the same with weights 1 for u <= 2, exp(1 - (u/2)^2) beyond
                   (u: a pair's RMS residual over sigma, or over 1.4826 * the median |v|
                   without --sigma); the report gives the weights, and exit status 1 when
                   they do not settle (huber gives way past roughly a fifth of blunders)
  --threshold M  with --robust: the inlier distance |v| in the target's units; without it and
                 with --sigma, the |v/sigma| that all n good pairs pass together with
                 probability 0.99 (n = 1000: 4.80 in 2D, 5.09 in 3D)
  --seed N       with --robust: the samples' seed (default 1): the same seed, the same result
  --plot F.svg   draw the points in plan with their exaggerated residual vectors; written
                 only when the run succeeds, and never over a file the run reads
  --json         print one JSON document instead of the table; its "transform" is what
                 'orienta apply' reads (numbers shortest round trip)
  --strict       with two lists: refuse ids found in one list only (else a warning)
  --mirrored-ok  a similarity whose targets a reflection fits better than any rotation (one
                 system left-handed, x and y swapped) is reported with a warning and exit
                 status 1; this accepts it (exit status 0, the warning kept). An exact mirror
                 image, which no rotation fits at all, is refused either way
)";

constexpr const char* kDescrita =
    R"(  --described    use the library's own estimator instead (no --sigma, --snoop). It is
                 checked against the least-squares optimum: exit status 1 with a warning
                 when its sum of squared residuals exceeds the optimum's by more than
                 rounding explains: 1e-6 of the optimum plus, over the pairs, the sum of
                 (4*u*rho)^2, u the unit roundoff (2^-53; 2^-24 with --float) and rho =
                 scale*|source| + |target| in the coordinates the estimator saw
  --float        with --described: single precision. Coordinates are first reduced by
                 their double-precision centroids, then rounded to float (so rho above uses
                 the reduced coordinates); residuals are computed in double
)";

constexpr const char* k3d =
    R"(usage: orienta helmert3d [--rigid] [--sigma [--sigmas N]]
                         [--snoop [K] | --snoop-alpha A | --robust METHOD [--threshold M] [--seed N]]
                         [--plot F.svg]
                         [--described [--general] [--float]] [--units U] [--json]
                         [--ids yes|no] [--columns LIST] [--decimal-comma] [FILE | SOURCE TARGET]

Estimates the 3D similarity target = T + scale*R*source, R = Rz(kappa)*Ry(phi)*Rx(omega):
the translation T, the angles, the scale and its deviation from 1 in ppm, the centred form,
each pair's residual, and the RMS in plan and height.
Columns: [id] source x y z target x y z [sigma [sigma]]. At least 3 pairs, not on one line.
With --rigid the scale is held at 1 (a rigid motion, 6 parameters; the record's model is rigid3d).
)";

constexpr const char* k3dOpciones =
    R"(  --rigid        hold the scale at 1: the least-squares rotation and translation alone
  --sigmas N     with --sigma: N = 1 or 2 sigma a line, for a file whose first line reads
                 both ways (8 numbers after a whole-number first column)
  --general      with --described: start from the linear least-squares map (from 9 pairs)
                 instead of the best rotation about z
  --units U      angles in rad, deg (default), gon, arcsec or dms (degrees, minutes and
                 seconds in the table; degrees in the JSON)
)";

constexpr const char* k2d =
    R"(usage: orienta helmert2d [--sigma]
                         [--snoop [K] | --snoop-alpha A | --robust METHOD [--threshold M] [--seed N]]
                         [--plot F.svg] [--described [--float]]
                         [--units U] [--image-rows-down] [--json] [--ids yes|no] [--columns LIST]
                         [--decimal-comma] [FILE | SOURCE TARGET]

Estimates the 2D similarity target = T + scale*R*source and prints T, the rotation angle
(positive turns +x towards +y), the scale and its deviation from 1 in ppm (a scale far from 1,
such as pixels to metres, prints as the factor alone), the plain form
target = scale*R*(source - t), the centred form, and each pair's residual.
Columns: [id] source x y target x y [sigma]. At least 2 pairs with distinct source points.
)";

constexpr const char* kUnidades = R"(  --units U      angles in rad, deg (default), gon, arcsec or dms (degrees, minutes and
                 seconds in the table; degrees in the JSON)
)";

constexpr const char* kImagen = R"(  --image-rows-down  the source is an image's pixel (column, row), rows growing downwards:
                 the fit sees (column, -row), a right-handed system like the map (else a
                 similarity from pixels sees a mirror image). The report's parameters are those
                 of that fit; the --json record maps (column, row) as read (for a similarity an
                 affine record, which turns the image over), and says "image_rows_down"
)";

constexpr const char* kPoly =
    R"(usage: orienta poly2d --kind KIND [--sigma]
                      [--snoop [K] | --snoop-alpha A | --robust METHOD [--threshold M] [--seed N]]
                      [--plot F.svg]
                      [--described [--float]] [--image-rows-down] [--json] [--ids yes|no]
                      [--columns LIST] [--decimal-comma] [FILE | SOURCE TARGET]

Fits x' = x0 + sum cx[k]*term k, y' = y0 + sum cy[k]*term k in dx = x - xc, dy = y - yc
(terms dx, dy; dx^2, dx*dy, dy^2; dx^3, dx^2*dy, dx*dy^2, dy^3) and prints the record, each
pair's residual and the RMS. Columns: [id] source x y target x y [sigma].

  --kind KIND    similarity (2 pairs), affine or 1 (3), 2 for second order (6), 3 for third
                 order (10); constant (1) and rigid (2) have no adjustment and always run
                 the described estimator. A constant map has no inverse: 'orienta apply'
                 refuses its record as singular
)";

constexpr const char* kAplica =
    R"(usage: orienta apply [--inverse | --precision [--units U]] [--decimals N] [--ids yes|no]
                     [--columns LIST] [--decimal-comma] TRANSFORM [FILE]

Reads TRANSFORM, the JSON document a fitting command printed with --json (or its bare
"transform" object; only as much of the document as that takes), refuses a record whose parts
disagree, that holds values its model has no place for or that lacks a field its model needs,
and carries the points of FILE through it: one point a line, [id] x y or [id] x y z as the
transformation's dimension, then any columns to carry through unchanged (a height through a 2D
transformation, point codes). The rules of the pair files hold: the first data line settles
the layout, and where it reads two ways (a whole number first: an id, or x?) --ids settles it.
A first line of names alone is a header row, skipped.
Prints 'id x' y' [z'] [columns]' a line in input order (the id only where one was given),
numbers in the shortest form that reads back exactly. Streams: memory stays flat for any input
size. A bad line, or a point whose image is not a finite number, stops the run with exit
status 2, after the points of the blocks of 4096 before it were printed.

  --inverse      the inverse transformation (polynomials: Newton iteration per point; a
                 point where it does not converge prints as nan, with exit status 1)
  --precision    also the precision of each image, propagated from the parameter covariance
                 the fit's record carries ("parameter_covariance"; a record without it, from
                 an earlier orienta or by hand, is refused for this option and still applies
                 without it): after the line's other columns, the sigma of each coordinate
                 and, in 2D, the error ellipse: its semi-major and semi-minor axes and the
                 bearing of the major one, clockwise from +y (north), in [0, 180) of --units
                 (rad, deg by default, gon, arcsec; dms as degrees). The points themselves are
                 taken as exact. Forward only
  --decimals N   coordinates (and sigmas) with N decimals (0 to 17), rounded correctly, instead
                 of the shortest form that reads back exactly
  --ids yes|no   whether column 1 holds point ids
  --columns LIST  what each column holds, in the file's order: id, x, y, z, '-' for a column
                 carried through (after the coordinates, in its order); a 3D transformation
                 needs z, a 2D one carries a z named here
  --decimal-comma  read ',' as the decimal point; columns separated by blanks, tabs or ';'
)";

constexpr const char* kExporta = R"(usage: orienta export proj [--area XMIN,YMIN,XMAX,YMAX] [--inverse-tolerance T] TRANSFORM
       orienta export world TRANSFORM
       orienta export gcp|points [--ids yes|no] [--columns LIST] [--decimal-comma] FIT PAIRS

Prints the transformation of TRANSFORM (a fitting command's --json output, or its bare
"transform" object) in a form other tools read:
  proj    one PROJ operation, for cct, projinfo or a +proj=pipeline step: a 3D similarity as
          +proj=helmert +exact +convention=coordinate_frame (the angles negated, in
          arcseconds, the scale as (scale - 1)*1e6 ppm); a 2D similarity as +proj=helmert
          with +theta = -rotation in arcseconds and +s the scale factor; the affine as
          +proj=affine. Translations are the images of the origin. cct -I gives the inverse,
          exact for these.
          A polynomial (order 2 or 3) as +proj=horner +deg=3: +fwd_origin the source
          centroid, the forward coefficients exactly (the target centroid as the constant),
          and an inverse that PROJ needs as a polynomial too (+inv_origin, +inv_u, +inv_v):
          a third-order polynomial fitted by least squares to the forward images of a grid
          over the area the operation serves, then checked on a denser grid. A note on
          standard error gives its worst round trip there, in source units (a GCP fit of
          mild curvature: around 1e-6 to 1e-4 pixels). +range, applied by PROJ to |x| and
          |y| about each origin, is set so that every point of the area (backwards, of its
          image) is accepted. The area is the fit document's "source_extent" (the box of
          the source points of the pairs used); a bare record needs --area.
  world   a world file (six lines A D B E C F) for GDAL and QGIS, for a 2D similarity or
          affine fitted from pixel to map: source coordinates are GDAL's pixel and line
          (the origin at the outer corner of the first pixel), and C F are the map position
          of that pixel's centre, the image of (0.5, 0.5).
  gcp     the pairs of a 2D fit as gdal_translate's ground control points, one
          '-gcp pixel line X Y' a line, to use as
            gdal_translate $(orienta export gcp fit.json pairs.txt) in.tif out.tif
          and then gdalwarp -order N (gdaltransform -order N gives what 'orienta apply'
          gives, for an unweighted fit). Pairs excluded by data snooping are left out
          (GDAL has no disabled control point) and named on standard error.
  points  the pairs of a 2D fit as a QGIS georeferencer points file: the CSV header
          mapX,mapY,sourceX,sourceY,enable,dX,dY,residual, then a line a pair; enable is 0
          for a pair excluded by data snooping. QGIS shows an image without georeferencing
          with y upwards, pixel (column, row) at (column, -row) from the outer corner of the
          first pixel, so sourceY is minus the source y of PAIRS: its source columns must be
          GDAL's pixel and line, rows growing downwards (as for world). dX dY are the fit's
          residual (transformed source - map) over the map size of a pixel, in map axes,
          and residual their length; QGIS recomputes them when it loads the file. No CRS
          line is written: QGIS asks for the target CRS.
FIT is the fitting command's --json document and PAIRS the file of pairs it was made from,
read with the same reading options (--ids, --columns, --decimal-comma; a sigma column where
the fit used --sigma). The pairs must be the fit's, the same count, ids and lines: any other
file is refused. A bare record (no "residuals") enables every pair.

  --area XMIN,YMIN,XMAX,YMAX  the area in source units a polynomial's horner operation
                 serves (default: the fit document's "source_extent"); checked, and
                 otherwise unused, for the other models
  --inverse-tolerance T  the worst round trip of horner's fitted inverse over the area the
                 run accepts, in source units (default 1e-3: a thousandth of a pixel, far
                 below what a control point is measured to; a millimetre for a metric
                 source); beyond it the string is printed with a warning and exit status 1
)";

}  // namespace

// The help of a command, or null for an unknown one.
std::string ayuda(const std::string& orden) {
  if (orden.empty()) return kGeneral;
  if (orden == "demo") return kDemo;
  if (orden == "helmert3d") return std::string(k3d) + kEntrada + kAjuste + kDescrita + k3dOpciones;
  if (orden == "helmert2d") return std::string(k2d) + kEntrada + kAjuste + kDescrita + kUnidades + kImagen;
  if (orden == "poly2d") return std::string(kPoly) + kEntrada + kAjuste + kDescrita + kImagen;
  if (orden == "apply") return kAplica;
  if (orden == "export") return kExporta;
  return std::string();
}

}  // namespace orienta::cli
