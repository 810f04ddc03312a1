#include "report/help_screens.hpp"

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

#include "util/console.hpp"
#include "util/fields.hpp"

// The guides and the banner are fixed texts. Every line of a guide, blank
// ones included, is printed as a free-form line, so each begins with one
// blank on the console.

namespace kelvora {

namespace {

// The sample dialogue quotes the program's own menu and prompts; keep it in
// step with them. The two numbered sources are the general binding model
// (1972) and its computerised implementation (1980).
constexpr std::string_view menu_guide[] = {
    "",
    "=============================================================",
    "              KELVORA MENU GUIDE",
    "=============================================================",
    "",
    "A typical analysis, with the answer typed after each prompt:",
    "",
    "    MAIN MENU:",
    "      1. Enter data file and run curve fitting analysis",
    "      2. Display help for main menu",
    "      3. Display help for data.crv file format",
    "      4. Create example data.crv files",
    "      5. Exit program",
    "    CHOOSE OPTION (1-5): 1",
    "",
    "Name the output files (a blank answer gives My_results):",
    "    ENTER OUTPUT DATA FILE NAME, E.G., MY_RESULTS (NO EXTENSION): MY_RESULTS",
    "Results go to MY_RESULTS.out, plot data to MY_RESULTS_Plot.out, saturation",
    "data to MY_RESULTS_Scatchard.out and IC50/Ki to MY_RESULTS_Competition.out.",
    "",
    "Multi-curve fitting: Enter multiple files,",
    "press <Enter> after each, blank line to finish.",
    "    ENTER INPUT DATA FILE NAME(S), (NO \".CRV\" EXTENSION)",
    "    AND SEPARATE WITH <CR>, END WITH BLANK LINE <CR>",
    "    EX1_SAT",
    "    EX2_COMP",
    "    <blank line>",
    "Saturation curves are moved ahead of competition curves automatically.",
    "",
    "    NUMBER OF BINDING SITES: 1",
    "    Enter 1 for single-site model",
    "    Enter 2 for two-site model",
    "",
    "    Parameters to consider: K11 K21 R1 N1 N2 C1 C2 B1",
    "Kij = affinity of ligand i at site j, Rj = receptor concentration of site j,",
    "Ni = nonspecific binding of ligand i, Ci = correction factor of curve i,",
    "Bj = cooperativity of site j.",
    "",
    "Fixed Parameters:",
    "    NOTE: Consider setting C's to variables (not constant)",
    "    when more than one curve is being curve-fit.",
    "    In this case, reset defaults without C's as constants.",
    "    (Ci=Correction factor for curve i typically = 1.0)",
    "    Enter constant parameter names separated by a space.",
    "    Press ENTER to accept default names in brackets [ ].",
    "    Enter \"NONE\" for no fixed parameters.",
    "    Example: K11 R1 N1 C1 B1",
    "    LIST OF CONSTANT PARAMETERS [DEFAULT: C1 C2 B1]: N2 C1 C2 B1",
    "",
    "Typical lists of constant parameters:",
    " o Standard fit: C1 C2 B1 (fix correction factors and cooperativity)",
    " o Fix nonspecific: N1 N2 C1 C2 B1",
    " o Fix affinity K: K11 C1 C2 B1 (when known from previous experiment)",
    " o No constraints: NONE",
    "A constant parameter keeps the value typed at the initial-estimates prompt;",
    "all others are fitted. Names may be typed in upper or lower case.",
    "",
    "KELVORA applies the general mass-action binding framework by:",
    " o Accepting total ligand concentrations and the measured bound ligand",
    " o Specifying the model by its binding sites, ligands and interactions",
    " o Solving the coupled equations iteratively for each data point",
    " o Using weighted nonlinear least squares with numerical derivatives",
    "   (each point is weighted by the inverse of its variance, modelled on",
    "   line 2 of its curve file, times its number of replicates)",
    " o Outputs fitted parameters with standard errors and confidence intervals",
    "Framework: Anal. Biochem. 48, 317-338 (1972)",
    "This turns graphical Scatchard analysis into a quantitative method: each",
    "curve is fitted in its measured form, without linearising the data, and",
    "several curves and ligands can be analysed together.",
    "",
    "Example: Two Ligands, One Receptor",
    "A radioligand [L*] and an unlabeled competitor [L] bind to one receptor [R].",
    "Mass action:",
    "Kd1 = [L*]free * [R]free / [L*R]",
    "Kd2 = [L]free * [R]free / [LR]",
    "Conservation:",
    "[L*]total = [L*]free + [L*R]",
    "[L]total = [L]free + [LR]",
    "[R]total = [R]free + [L*R] + [LR]",
    "Combining the two sets gives coupled nonlinear equations in the free",
    "concentrations, which are solved iteratively at every data point.",
    "The coupled system (3 equations, 3 unknowns):",
    "[L*]total = [L*]free * (1 + [R]free / Kd1)",
    "[L]total = [L]free * (1 + [R]free / Kd2)",
    "[R]total = [R]free * (1 + [L*]free / Kd1 + [L]free / Kd2)",
    "Solving it predicts the measured [L*R] against [L]total, so competition",
    "curves determine both Kd1 and Kd2.",
    "",
    "Association versus dissociation constants:",
    "KA = 1/Kd",
    " o Kd is in M (mol/L): a smaller Kd means a higher affinity",
    " o KA is in 1/M: a larger KA means a higher affinity",
    "KELVORA fits association constants (Kij, in 1/M) and reports Kd = 1/K",
    "beside them; all concentrations are molar (1 nM = 1.0E-09 M).",
    "General conservation equations:",
    "  For ligand i:",
    "    [Li]total = [Li]free + SUMj{ (KA,ij * [Li]free * [Rj]free) }",
    "  For receptor type j:",
    "    [Rj]total = [Rj]free + SUMi{ (KA,ij * [Li]free * [Rj]free) }",
    "When comparing affinities, Kd = 1 nM binds tighter than 100 nM.",
    "When comparing reaction rates, KA = kon / koff",
    "",
    "Binding experiments measure the bound labeled ligand at known total",
    "concentrations of the ligands. KELVORA predicts the bound and free ligand",
    "at every point with the general binding model and adjusts the parameters",
    "until the predicted bound ligand best matches the measured values.",
    "1. Anal. Biochem. 48, 317-338 (1972)",
    "2. Anal. Biochem. 107, 220-239 (1980)",
    "",
    "There are two basic designs for receptor binding experiments:",
    "1. Saturation assays: increasing concentrations of the labeled \"hot\"",
    "   ligand, from the Kd range up to saturation of the receptors; the bound",
    "   values span several orders of magnitude.",
    "2. Displacement assays: a fixed concentration of the hot ligand is displaced",
    "   by increasing concentrations of an unlabeled \"cold\" ligand, either an",
    "   isotope of the same molecule or a different molecule; the bound values",
    "   span one or two orders of magnitude.",
    "",
    "Consider refitting results to improved the curve-fit:",
    "    o Refit the same data using current parameter values (Y/N) [Y]: Y",
    "After each fit the program asks ANOTHER FIT OF SAME DATA (Y/N) [Y]: answer",
    "Y, give the same number of sites and constant parameters, then answer Y to",
    "the refit question to continue from the last fitted values, which often",
    "lowers the sum of squares further. Answer N to it to compute or type new",
    "estimates; answer N to ANOTHER FIT to end the analysis and return to the menu.",
    "",
};

constexpr std::string_view crv_file_guide[] = {
    "",
    "=============================================================",
    "              KELVORA FILE GUIDE",
    "=============================================================",
    "",
    "Optional first line: UNITS nM (or M, mM, uM, \xC2\xB5M, pM)",
    "  All concentrations and bound values of the file (line 4, columns 1 and 2)",
    "  are then in that unit and are converted to M on reading; the weighting",
    "  parameters hold for Y in that unit. The lines below then follow one line",
    "  later (the title on line 2). Without a UNITS line everything is in M.",
    "",
    "Line 1: Title (enclosed in double quotes)",
    "  Up to 80 characters; the quotes are removed when the title is shown.",
    "  Example: \"Receptor binding of ligand 1\"",
    "",
    "Line 2: Five weighting parameters (a0, a1, a2, a3, a4)",
    "  Weight function: w = 1/(a0 + a1*Y + a2*Y^2 + a3*|Y|^a4)",
    "  Y is the predicted bound value; w is multiplied by the replicate number.",
    "  Constant relative error (CV): 0.0, 0.0, 0.001, 0.0, 0.0  (Typical)",
    "  Proportional variance: 0.0, 1.0, 0.0, 0.0, 0.0",
    "  Power law (variance |Y|^a4): 0.0, 0.0, 0.0, 1.0, 2.0",
    "  Constant variance: 1.0, 0.0, 0.0, 0.0, 0.0 (w = 1, all points weighted equally)",
    "",
    "Line 3: Varying ligand number, Labeled ligand number",
    "  For HOT saturation: 1, 1 (ligand 1 is both varying and labeled)",
    "  For HOT-COLD competition: 1, 2 (cold varies, hot labeled)",
    "  Ligand numbers are 1 or 2. Example: 1, 2",
    "",
    "Line 4: Total concentration of labeled (Fixed hot) ligand [M]",
    "  Saturation: 0.0 (the hot ligand varies; its totals are in column 1)",
    "  Competition: the fixed total concentration of the hot ligand",
    "  Example: 1.0E-09",
    "",
    "Lines 5+: Data points (3 values per line)",
    "  Column 1: Total varying ligand concentration [M]",
    "  Column 2: Bound labeled ligand concentration [M]",
    "  Column 3: Number of replicates (weight factor)",
    "  Example: 1.0E-08, 2.5E-10, 1.0",
    "  A replicate number of 0 or less counts as 1.",
    "",
    "IMPORTANT NOTES:",
    "  - All concentrations in molar units [M], e.g. 1 nM = 1.0E-09",
    "  - Scientific notation allowed: 1.0E-09, 1.0e-9 or 0.000000001",
    "  - Values separated by comma or blank",
    "  - No blank lines within data section",
    "  - Text after the data (e.g. a line \"!\" and comments) is ignored",
    "  - At most 1000 data points per file and 50 files per analysis",
    "",
    "Requested interactively during analysis:",
    "  Initial parameter estimates:",
    "    K11, K21, K12, K22: affinity of ligand i at site j [1/M], Kd = 1/K",
    "    R1, R2: receptor concentration of site 1 and site 2 [M]",
    "    N1, N2: nonspecific binding ratio of ligand 1 and ligand 2",
    "    C1, C2, ...: correction factor of curve 1, 2, ... (typically 1.0)",
    "    B1, B2: cooperativity of site 1 and site 2 - Usually fixed at 1.0",
    "  Model set-up:",
    "    Number of binding sites (1 or 2)",
    "    Fixed parameters (names held constant, e.g. C1 C2 B1)",
    "",
    "EXPERIMENT TYPES:",
    "1. 1-SITE SATURATION (Scatchard):",
    "   Line 3: 1, 1   Line 4: 0.0   (answer 1 to NUMBER OF BINDING SITES)",
    "   Column 1: Total hot ligand [M]   Column 2: Bound hot ligand [M]",
    "2. 2-SITE SATURATION (Scatchard):",
    "   Line 3: 1, 1   Line 4: 0.0   (answer 2 to NUMBER OF BINDING SITES)",
    "   Column 1: Total hot ligand [M]   Column 2: Bound hot ligand [M]",
    "3. STANDARD COMPETITION (Hot-Cold):",
    "   Line 3: 1, 2   Line 4: Fixed total hot ligand [M], e.g. 1.0E-09",
    "   Column 1: Total cold ligand [M]  Column 2: Bound hot ligand [M]",
    "   All concentrations in MOLAR units!",
    "",
    " \"1, 1\" (Saturation/Scatchard): Ligand #1 varies, Ligand #1 is labeled --> same ligand",
    " \"2, 2\" (Saturation/Scatchard): Ligand #2 varies, Ligand #2 is labeled --> same ligand",
    " \"1, 2\" (Hot-Cold Competition): Ligand #1 varies (cold), Ligand #2 is labeled (hot)",
    " \"2, 1\" (Cold-Hot Competition): Ligand #2 varies (hot), Ligand #1 is labeled (cold)",
    "",
    "ASSAY TYPES: (DataFile.crv)",
    "=============================================================================",
    "| Experiment  | Line 3 | Line 4      | Lines 5+       | Lines 5+           |",
    "|             |        |             | Column 1 Vary  | Column 2 Measured  |",
    "=============================================================================",
    "| Saturation  | 1, 1   | 0.0         | Total [Hot]    | [Hot] Bound Ligand |",
    "| Competition | 1, 2   | Fixed [Hot] | Total [Cold]   | [Hot] Bound Ligand |",
    "=============================================================================",
    "",
    "Equal ligand numbers on line 3 (1, 1 or 2, 2) mean a saturation experiment",
    "with one ligand, which is both varied and labeled.",
    "Different numbers (1, 2 or 2, 1) mean a competition experiment with two",
    "ligands: the first number names the ligand that varies (column 1), the",
    "second the labeled ligand whose fixed total concentration is on line 4.",
    "The number only designates the ligand: give a ligand the same number in",
    "every file of one analysis.",
    "\"Hot-Cold\" and \"Cold-Hot\" say which ligand is the labeled tracer (hot);",
    "they do not refer to the column order of the file.",
};

// The banner body; every line is printed free form, an empty one as an
// empty line.
constexpr std::string_view banner_text[] = {
    " KELVORA v2.0 - Ligand Receptor Binding Curve Fitting",
    " KELVORA performs the non-linear least square curve fit",
    " of experimental receptor binding data using estimates of",
    " KA, Rmax and Nonspecific. The Bound ligand vs Total ligand",
    " coordinate system is used in the analysis of one or two",
    " binding sites for saturation or competition assays.",
    "",
    " The fitting method of KELVORA derives from an earlier",
    " public-domain program for the analysis of ligand binding",
    " data, long used in receptor pharmacology. That program",
    " fitted the exact mass-action model of several ligands",
    " and receptor classes to bound versus total ligand data",
    " by weighted nonlinear least squares. Its binding model",
    " and its computational method are described in these",
    " papers:",
    "   1. Anal. Biochem. 107, 220-239 (1980)",
    "      (the method: weighted least-squares fitting of the",
    "      exact binding model to experimental data)",
    "   2. Anal. Biochem. 48, 317-338 (1972)",
    "      (the general binding model)",
    "",
    " KELVORA:",
    "  o Follows the methodology of the earlier public-domain",
    "    program",
    "  o Uses the general binding model of the 1972 paper as",
    "    implemented in the 1980 paper; written in C++20",
    "  o Runs on Linux as a console program (64-bit)",
    "  o Uses Nelder-Mead Simplex, Conjugate Gradient, and",
    "    Levenberg-Marquardt optimization routines",
    "  o Uses weighted nonlinear least squares with numerical derivatives",
    "  o Implements Saturation and Competition displacement binding",
    "  o Reorders data files, Saturation (1st), Competition (next)",
    "  o Fits data to models containing one or two binding sites",
    "  o All data must be in Molar [M] units",
    "  o Varying hot ligand [M] must not be less than 1.0E-14 M",
    "  o Applies automatic initial parameter estimates (K, R, N)",
    "  o Allows refitting data using last fitted parameter values",
    "  o Implements bootstrap parameter standard errors",
    "  o Performs Runs test of curve-fit residual patterns",
    "  o Creates plots of Log(Total Ligand) versus Bound/Total Ligand",
    "",
    " KELVORA v2.0 by the KELVORA developers, released December 2026",
    " Documentation: README.md of the KELVORA source distribution",
    "",
    "  \"This program is provided as is, without warranty of any kind.",
    "   Check every fitted result against your data before you use it;",
    "   the conclusions drawn from it remain the user's responsibility.\"",
};

static_assert(std::size(menu_guide) == 126);
static_assert(std::size(crv_file_guide) == 94);

template <std::size_t N>
void print_guide(Console& console, const std::string_view (&lines)[N]) {
  for (const std::string_view line : lines) console.free_form(line);
}

}  // namespace

const char* const command_line_help =
    "Usage: kelvora [--seed N] [--plots=window|png|svg|none]\n"
    "       kelvora fit [options] CURVE...   (see kelvora fit --help)\n"
    "\n"
    "Starts the interactive analysis of ligand binding curves (the main menu);\n"
    "kelvora fit runs one analysis without a single question, for scripts.\n"
    "\n"
    "  --seed N  make the session repeatable: every random number it draws (the\n"
    "            random searches of the fit, the polish of the quasi-Newton\n"
    "            minimiser, the bootstrap resamples) follows from N, 0 <= N <\n"
    "            2^64. Two sessions with the same N and the same answers write\n"
    "            identical result files, whatever the number of processors,\n"
    "            but for the date of the analysis record (SOURCE_DATE_EPOCH,\n"
    "            seconds since 1970, fixes that too).\n"
    "            Without it, the random searches draw fresh numbers from the\n"
    "            system's entropy source.\n"
    "  --plots=window|png|svg|none\n"
    "            where the plot of each fitted curve goes: a window that the\n"
    "            analysis waits for you to close (window), an 800 x 600 image\n"
    "            file STEM_curveN.png or .svg beside the results (png, svg), or\n"
    "            nowhere (none). The default is the window when the answers are\n"
    "            typed at a terminal and a display can be opened, PNG files\n"
    "            otherwise (answers from a file, no display, a remote login).\n"
    "  --help    show this text and exit.\n";

void print_main_menu_help(Console& console) {
  print_guide(console, menu_guide);
}

void print_crv_file_format_help(Console& console) {
  print_guide(console, crv_file_guide);
}

void print_banner(Console& console) {
  const std::string banner_rule = rule('=', 56);
  console.empty_line();
  console.free_form(banner_rule);
  for (const auto line : banner_text) {
    if (line.empty()) {
      console.empty_line();
    } else {
      console.free_form(line);
    }
  }
  console.free_form(banner_rule);
}

}  // namespace kelvora
