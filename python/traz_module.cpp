// The Python module `traz`: designs from keyword arguments or deck files, evaluations and
// simulations whose results are small objects (attributes and to_dict()), sweeps, Pareto fronts
// and comparisons as rows for pandas, and the library's refusals as the exception traz.Error.
// The computation runs without the GIL.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "traz/traz.hpp"

namespace py = pybind11;

namespace {

// ---- Errors --------------------------------------------------------------------------

// A design the library refused, or could not read or compute, with the result's outcome.
struct Refusal {
    traz::Diagnostic diagnostic;
    std::string outcome;
};

PyObject* error_type = nullptr;  // traz.Error, alive as long as the interpreter

// Raises traz.Error with the message and where the fault stood.
void raise_error(const traz::Diagnostic& d, const std::string& outcome) {
    py::object type = py::reinterpret_borrow<py::object>(error_type);
    py::object e = type(d.message);
    e.attr("message") = d.message;
    e.attr("statement") = d.statement;
    e.attr("item") = d.item;
    e.attr("line") = d.line;
    e.attr("outcome") = outcome;
    PyErr_SetObject(error_type, e.ptr());
}

[[noreturn]] void type_error(const std::string& what) { throw py::type_error(what); }

// ---- Values from Python --------------------------------------------------------------

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

Array array_of(py::handle h, const char* name, int max_dims) {
    Array a = Array::ensure(h);
    if (!a || a.ndim() > max_dims)
        type_error(std::string(name) + ": expected " + (max_dims == 1 ? "a list of numbers" : "a matrix of numbers"));
    return a;
}

std::vector<double> numbers_of(py::handle h, const char* name) {
    Array a = array_of(h, name, 1);
    return std::vector<double>(a.data(), a.data() + a.size());
}

// Rows of a matrix; a plain list of numbers is one row. Rows given as a list are read one by
// one, so that rows of different lengths reach the design's checks.
std::vector<std::vector<double>> rows_of(py::handle h, const char* name) {
    if ((py::isinstance<py::list>(h) || py::isinstance<py::tuple>(h)) && py::len(h) > 0) {
        const py::sequence rows = py::reinterpret_borrow<py::sequence>(h);
        if (!py::isinstance<py::str>(rows[0]) && py::hasattr(rows[0], "__len__")) {
            std::vector<std::vector<double>> m;
            for (py::handle row : rows) m.push_back(numbers_of(row, name));
            return m;
        }
    }
    Array a = array_of(h, name, 2);
    const std::size_t rows = a.ndim() == 2 ? static_cast<std::size_t>(a.shape(0)) : 1;
    const std::size_t cols = a.ndim() == 2 ? static_cast<std::size_t>(a.shape(1)) : static_cast<std::size_t>(a.size());
    std::vector<std::vector<double>> m(rows);
    for (std::size_t i = 0; i < rows; ++i) m[i].assign(a.data() + i * cols, a.data() + (i + 1) * cols);
    return m;
}

int whole_number(double x, const char* name) {
    if (!(std::fabs(x) <= 2147483647.0) || x != std::trunc(x)) {
        std::ostringstream s;
        s << name << ": " << x << " is not a whole number";
        type_error(s.str());
    }
    return static_cast<int>(x);
}

int integer_of(py::handle h, const char* name) {
    if (py::isinstance<py::bool_>(h)) type_error(std::string(name) + ": expected a whole number");
    double x = 0.0;
    try {
        x = py::cast<double>(h);
    } catch (const py::cast_error&) {
        type_error(std::string(name) + ": expected a whole number");
    }
    return whole_number(x, name);
}

std::vector<int> integers_of(py::handle h, const char* name) {
    std::vector<int> v;
    for (double x : numbers_of(h, name)) v.push_back(whole_number(x, name));
    return v;
}

double real_of(py::handle h, const char* name) {
    try {
        return py::cast<double>(h);
    } catch (const py::cast_error&) {
        type_error(std::string(name) + ": expected a number");
    }
}

const char* integration_name(traz::Integration i) {
    switch (i) {
    case traz::Integration::cube: return "cube";
    case traz::Integration::fitted: return "fitted";
    case traz::Integration::automatic: break;
    }
    return "automatic";
}

traz::Integration integration_of(py::handle h) {
    const std::string s = py::isinstance<py::str>(h) ? h.cast<std::string>() : "";
    if (s == "automatic") return traz::Integration::automatic;
    if (s == "cube") return traz::Integration::cube;
    if (s == "fitted") return traz::Integration::fitted;
    type_error("integration: expected \"automatic\", \"cube\" or \"fitted\"");
}

// ---- Designs -------------------------------------------------------------------------

// A design as Python sees it: the stages' weights and retained counts are set apart (as
// two keyword arguments) and put together when the design is used.
struct PyDesign {
    traz::Design fields;  // all but the stages
    std::vector<std::vector<double>> weights;
    std::vector<int> retained;

    static PyDesign of(traz::Design d) {
        PyDesign p;
        for (const traz::Stage& s : d.stages) {
            p.weights.push_back(s.weights);
            p.retained.push_back(s.retained);
        }
        d.stages.clear();
        p.fields = std::move(d);
        return p;
    }

    traz::Design design() const {
        traz::Design d = fields;
        d.stages = traz::stages_of(weights, retained);
        return d;
    }
};

// The keyword arguments of a design: how each is read from Python and shown back.
struct Field {
    const char* name;
    void (*set)(PyDesign&, py::handle);
    py::object (*get)(const PyDesign&);
};

py::list list_of(const std::vector<double>& v) { return py::cast(v); }

const Field kFields[] = {
    {"validities", [](PyDesign& p, py::handle h) { p.fields.validities = numbers_of(h, "validities"); },
     [](const PyDesign& p) -> py::object { return list_of(p.fields.validities); }},
    {"correlations",
     [](PyDesign& p, py::handle h) {
         p.fields.correlations = rows_of(h, "correlations");
         if (p.fields.correlations.size() == 1 && p.fields.correlations[0].empty()) p.fields.correlations.clear();
     },
     [](const PyDesign& p) -> py::object { return py::cast(p.fields.correlations); }},
    {"effect_sizes", [](PyDesign& p, py::handle h) { p.fields.effect_sizes = numbers_of(h, "effect_sizes"); },
     [](const PyDesign& p) -> py::object { return list_of(p.fields.effect_sizes); }},
    {"weights", [](PyDesign& p, py::handle h) { p.weights = rows_of(h, "weights"); },
     [](const PyDesign& p) -> py::object { return py::cast(p.weights); }},
    {"retained", [](PyDesign& p, py::handle h) { p.retained = integers_of(h, "retained"); },
     [](const PyDesign& p) -> py::object { return py::cast(p.retained); }},
    {"applicants", [](PyDesign& p, py::handle h) { p.fields.applicants = integer_of(h, "applicants"); },
     [](const PyDesign& p) -> py::object { return py::int_(p.fields.applicants); }},
    {"proportion", [](PyDesign& p, py::handle h) { p.fields.proportion = real_of(h, "proportion"); },
     [](const PyDesign& p) -> py::object { return py::float_(p.fields.proportion); }},
    {"criterion_effect", [](PyDesign& p, py::handle h) { p.fields.criterion_effect = real_of(h, "criterion_effect"); },
     [](const PyDesign& p) -> py::object { return py::float_(p.fields.criterion_effect); }},
    {"groups", [](PyDesign& p, py::handle h) { p.fields.groups = integer_of(h, "groups"); },
     [](const PyDesign& p) -> py::object { return py::int_(p.fields.groups); }},
    {"passes", [](PyDesign& p, py::handle h) { p.fields.passes = integer_of(h, "passes"); },
     [](const PyDesign& p) -> py::object { return py::int_(p.fields.passes); }},
    {"relerr", [](PyDesign& p, py::handle h) { p.fields.relerr = real_of(h, "relerr"); },
     [](const PyDesign& p) -> py::object { return py::float_(p.fields.relerr); }},
    {"maxcls", [](PyDesign& p, py::handle h) { p.fields.maxcls = integer_of(h, "maxcls"); },
     [](const PyDesign& p) -> py::object { return py::int_(p.fields.maxcls); }},
    {"integration", [](PyDesign& p, py::handle h) { p.fields.integration = integration_of(h); },
     [](const PyDesign& p) -> py::object { return py::str(integration_name(p.fields.integration)); }},
};

// Sets the fields named in kwargs; None leaves a field as it is.
void apply_fields(PyDesign& p, const py::kwargs& kwargs) {
    for (auto [key, value] : kwargs) {
        const std::string name = py::str(key);
        const Field* field = nullptr;
        for (const Field& f : kFields)
            if (name == f.name) field = &f;
        if (field == nullptr) type_error("unexpected keyword argument '" + name + "'");
        if (!value.is_none()) field->set(p, value);
        p.fields.lines = nullptr;  // no longer the design of the deck text it was read from
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw py::value_error("traz: cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

PyDesign design_from_deck(const std::string& text) { return PyDesign::of(traz::Design::from_deck(text)); }

// ---- Results -------------------------------------------------------------------------

struct PyResult {
    traz::Result result;
    PyDesign design;
};

struct Quantity {
    const char* name;
    traz::Bounded traz::Result::*member;
};

const Quantity kQuantities[] = {
    {"expected_criterion_score", &traz::Result::expected_criterion_score},
    {"selection_rate_group1", &traz::Result::selection_rate_group1},
    {"selection_rate_group2", &traz::Result::selection_rate_group2},
    {"ai_ratio", &traz::Result::ai_ratio},
    {"impact_ratio", &traz::Result::impact_ratio},
    {"sd_average_criterion_score", &traz::Result::sd_average_criterion_score},
    {"proportion_selected", &traz::Result::proportion_selected},
};

int worst_status(const traz::Result& r) {
    int worst = 0;
    for (const traz::PassResult& p : r.passes) worst = std::max(worst, p.status);
    return worst;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += (s.empty() ? "" : "; ") + l;
    return s;
}

// The result as one flat row: each quantity and its "_error" bound (NaN when the design's
// passes do not give it), then the integration's summary.
py::dict row_of(const traz::Result& r) {
    py::dict row;
    row["outcome"] = r.outcome;
    for (const Quantity& q : kQuantities) {
        row[q.name] = (r.*q.member).value;
        row[(std::string(q.name) + "_error").c_str()] = (r.*q.member).error_bound;
    }
    row["target_selection_ratio"] = r.target_selection_ratio;
    row["mass"] = r.mass;
    row["domain"] = r.domain;
    row["worst_status"] = worst_status(r);
    row["warnings"] = joined(r.warnings);
    row["diagnostic"] = r.diagnostic.message;
    row["cpu_seconds"] = r.cpu_seconds;
    return row;
}

py::list passes_of(const traz::Result& r) {
    py::list out;
    for (const traz::PassResult& p : r.passes) {
        py::dict d;
        d["pass"] = p.pass;
        d["selector"] = p.selector;
        d["integrates"] = p.integrates;
        d["result"] = p.result;
        d["error_estimate"] = p.error_estimate;
        d["evaluations"] = p.evaluations;
        d["status"] = p.status;
        d["status_meaning"] = p.status_meaning;
        d["carried_over"] = p.carried_over;
        out.append(d);
    }
    return out;
}

// Why a result that is not "computed" has no numbers, in the words the command line uses.
traz::Diagnostic failure_of(const traz::Result& r) {
    traz::Diagnostic d = r.diagnostic;
    if (d.message.empty() && r.outcome == "fatal_library_error")
        d.message = "a library routine failed fatally: " + r.library_messages;
    if (d.message.empty()) d.message = "the design was not computed (" + r.outcome + ")";
    return d;
}

PyResult evaluate_design(const PyDesign& p) {
    const traz::Design d = p.design();
    traz::Result r;
    {
        py::gil_scoped_release unlocked;
        r = traz::evaluate(d);
    }
    if (!r.ok()) throw Refusal{failure_of(r), r.outcome};
    return PyResult{std::move(r), p};
}

// ---- Sweeps --------------------------------------------------------------------------

py::list sweep_rows(const PyDesign& p, const py::object& vary, const std::vector<double>& mix_to, int jobs) {
    traz::SweepRequest request;
    if (py::isinstance<py::str>(vary))
        request.vary.push_back(vary.cast<std::string>());
    else
        for (py::handle v : vary) request.vary.push_back(py::str(v));
    request.mix_to = mix_to;
    request.jobs = jobs;
    const traz::Design base = p.design();
    const std::vector<std::string> names = traz::sweep_names(base, request);
    std::vector<traz::SweepPoint> points;
    {
        py::gil_scoped_release unlocked;
        points = traz::sweep(base, request);
    }
    py::list rows;
    for (const traz::SweepPoint& point : points) {
        py::dict row;
        row["point"] = point.point;
        for (std::size_t k = 0; k < names.size(); ++k) row[names[k].c_str()] = point.values[k];
        for (auto [key, value] : row_of(point.result)) row[key] = value;
        rows.append(row);
    }
    return rows;
}

// ---- Simulations ---------------------------------------------------------------------

struct PySimulation {
    traz::Simulation simulation;
    unsigned long long seed = 0;
};

struct SimulatedQuantity {
    const char* name;
    traz::Estimate traz::Simulation::*member;
};

// In the order and with the names of traz simulate's JSON and CSV.
const SimulatedQuantity kSimulated[] = {
    {"expected_criterion_score", &traz::Simulation::expected_criterion_score},
    {"selection_rate_group1", &traz::Simulation::selection_rate_group1},
    {"selection_rate_group2", &traz::Simulation::selection_rate_group2},
    {"ai_ratio", &traz::Simulation::ai_ratio},
    {"impact_ratio", &traz::Simulation::impact_ratio},
    {"sd_average_criterion_score", &traz::Simulation::sd_average_criterion_score},
    {"p_four_fifths", &traz::Simulation::p_four_fifths},
    {"p_fisher", &traz::Simulation::p_fisher},
    {"p_z", &traz::Simulation::p_z},
    {"p_both", &traz::Simulation::p_both},
    {"p_no_hire_group1", &traz::Simulation::p_no_hire_group1},
    {"p_no_hire_group2", &traz::Simulation::p_no_hire_group2},
    {"share_undefined", &traz::Simulation::share_undefined},
};
const char* const kQuantileSuffixes[3] = {"_q05", "_q50", "_q95"};

// The simulation as one flat row: the columns of traz simulate --format csv but the deck.
py::dict simulation_row(const PySimulation& p) {
    const traz::Simulation& s = p.simulation;
    py::dict row;
    row["seed"] = p.seed;
    row["replications"] = s.replications;
    for (const SimulatedQuantity& q : kSimulated) {
        row[q.name] = (s.*q.member).value;
        row[(std::string(q.name) + "_se").c_str()] = (s.*q.member).se;
    }
    for (int k = 0; k < 3; ++k)
        row[(std::string("mean_criterion_score") + kQuantileSuffixes[k]).c_str()] = s.criterion_quantiles[k];
    for (int k = 0; k < 3; ++k)
        row[(std::string("impact_ratio") + kQuantileSuffixes[k]).c_str()] = s.impact_ratio_quantiles[k];
    row["undefined_ratio_replications"] = s.undefined;
    row["z_undefined_replications"] = s.z_undefined;
    return row;
}

PySimulation simulate_design(const PyDesign& p, long long replications, unsigned long long seed, int jobs) {
    traz::SimulationRequest request;
    request.replications = replications;
    request.seed = seed;
    request.jobs = jobs;
    const traz::Design d = p.design();
    PySimulation out;
    out.seed = seed;
    py::gil_scoped_release unlocked;
    out.simulation = traz::simulate(d, request);
    return out;
}

// ---- Pareto fronts and comparisons ---------------------------------------------------

std::string weight_name(const traz::FreeWeight& f) {
    return "w(" + std::to_string(f.stage) + "," + std::to_string(f.predictor) + ")";
}

// One dict per front point: point, the run's columns (as sweep rows), the free weights, whether
// the search settled and its status, and the point's design (None when the search found none).
py::list pareto_rows(const PyDesign& p, int points, bool negative_weights, int jobs) {
    traz::ParetoRequest request;
    request.points = points;
    request.negative_weights = negative_weights;
    request.jobs = jobs;
    const traz::Design base = p.design();
    traz::ParetoFront front;
    {
        py::gil_scoped_release unlocked;
        front = traz::pareto(base, request);
    }
    const std::vector<traz::FreeWeight>& free = front.free_weights;
    py::list rows;
    for (const traz::ParetoPoint& point : front.points) {
        py::dict row;
        row["point"] = point.point;
        for (auto [key, value] : row_of(point.result)) row[key] = value;
        for (std::size_t k = 0; k < free.size(); ++k)
            row[weight_name(free[k]).c_str()] = k < point.weights.size() ? point.weights[k] : NAN;
        row["settled"] = point.settled;
        row["status"] = point.status;
        row["design"] = point.weights.empty() ? py::object(py::none()) : py::cast(PyDesign::of(point.design));
        rows.append(row);
    }
    return rows;
}

const char* const kCompared[] = {"expected_criterion_score", "selection_rate_group1", "selection_rate_group2",
                                 "ai_ratio", "impact_ratio", "sd_average_criterion_score"};
traz::Bounded traz::Comparison::Quantities::* const kDifferences[] = {
    &traz::Comparison::Quantities::expected_criterion_score, &traz::Comparison::Quantities::selection_rate_group1,
    &traz::Comparison::Quantities::selection_rate_group2,    &traz::Comparison::Quantities::ai_ratio,
    &traz::Comparison::Quantities::impact_ratio,             &traz::Comparison::Quantities::sd_average_criterion_score};

struct PyComparison {
    py::list rows;
    std::string verdict;
    py::list results;
};

std::string label_of(std::size_t i) { return std::string(1, static_cast<char>('A' + i % 26)); }

// The designs' rows (design A, B, ...: the run's columns, the differences to A with their
// bounds, the designs that dominate it) and the verdict.
PyComparison compare_designs(const std::vector<PyDesign>& given) {
    std::vector<traz::Design> designs;
    for (const PyDesign& p : given) designs.push_back(p.design());
    traz::Comparison c;
    {
        py::gil_scoped_release unlocked;
        c = traz::compare(designs);
    }
    PyComparison out;
    out.verdict = c.verdict;
    for (std::size_t i = 0; i < c.results.size(); ++i) {
        py::dict row;
        row["design"] = label_of(i);
        for (auto [key, value] : row_of(c.results[i])) row[key] = value;
        for (std::size_t k = 0; k < std::size(kCompared); ++k) {
            const traz::Bounded& b = c.differences[i].*kDifferences[k];
            row[(std::string("difference_") + kCompared[k]).c_str()] = b.value;
            row[(std::string("difference_") + kCompared[k] + "_error").c_str()] = b.error_bound;
        }
        std::string by;
        for (int j : c.dominated_by[i]) by.append(by.empty() ? "" : " ").append(label_of(static_cast<std::size_t>(j)));
        row["dominated_by"] = by;
        out.rows.append(row);
        out.results.append(PyResult{c.results[i], given[i]});
    }
    return out;
}

} // namespace

PYBIND11_MODULE(traz, m) {
    m.doc() = "TRAZ: expected outcomes of multi-stage personnel selection, with error bounds.\n\n"
              "evaluate() computes a design given as keyword arguments or as a Design (read_deck);\n"
              "sweep() varies one or two of its quantities over a grid; simulate() draws its selections;\n"
              "pareto() finds the stage weights trading expected score for impact ratio; compare() puts\n"
              "designs side by side.";
    m.attr("__version__") = TRAZ_VERSION;

    error_type = PyErr_NewExceptionWithDoc(
        "traz.Error",
        "A design that TRAZ refused or could not compute. Attributes: message (the reason, as the\n"
        "command line words it), statement and item of the deck at fault (0: none or the statement\n"
        "as a whole), line (in the deck text, 0 for none), outcome (\"refused\", \"bad_deck\",\n"
        "\"refused_after_echo\", \"fatal_library_error\", or \"design\" for fields that do not fit).",
        PyExc_ValueError, nullptr);
    m.attr("Error") = py::handle(error_type);
    py::register_exception_translator([](std::exception_ptr e) {
        try {
            if (e) std::rethrow_exception(e);
        } catch (const Refusal& r) {
            raise_error(r.diagnostic, r.outcome);
        } catch (const traz::Error& err) {
            raise_error(err.diagnostic(), "design");
        }
    });

    std::string fields_doc;
    for (const Field& f : kFields) fields_doc += std::string(fields_doc.empty() ? "" : ", ") + f.name;

    py::class_<PyDesign> design(m, "Design",
                                ("A selection design. Keyword arguments (each also an attribute): " + fields_doc +
                                 ".\nvalidities, effect_sizes: one per predictor; correlations: the predictor "
                                 "correlation matrix (numpy array or nested lists); weights: one row per stage; "
                                 "retained: one count per stage; integration: \"automatic\", \"cube\" or \"fitted\". "
                                 "Left out: groups 2, proportion 0.5, criterion_effect 0, passes 7, relerr 1e-4, "
                                 "maxcls 100000, integration \"automatic\".")
                                    .c_str());
    design.def(py::init([](const py::kwargs& kwargs) {
        PyDesign p;
        apply_fields(p, kwargs);
        return p;
    }));
    for (const Field& f : kFields)
        design.def_property(
            f.name, [get = f.get](const PyDesign& p) { return get(p); },
            [set = f.set](PyDesign& p, py::handle h) {
                set(p, h);
                p.fields.lines = nullptr;
            });
    design.def(
        "replace",
        [](const PyDesign& p, const py::kwargs& kwargs) {
            PyDesign q = p;
            apply_fields(q, kwargs);
            return q;
        },
        "A copy with the given fields changed.");
    design.def("to_deck", [](const PyDesign& p) { return p.design().to_deck(); },
               "The design as deck text (what traz and read_deck read back to the same values).");
    design.def_static("from_deck", &design_from_deck, py::arg("text"), "The design of deck text.");
    design.def("__repr__", [](const PyDesign& p) {
        std::string s = "traz.Design(";
        for (const Field& f : kFields)
            s += std::string(&f == kFields ? "" : ", ") + f.name + "=" + py::repr(f.get(p)).cast<std::string>();
        return s + ")";
    });

    py::class_<PyResult> result(m, "Result",
                                "What evaluate() computed. Each quantity is an attribute with its error "
                                "bound in <name>_error (NaN when the design's passes do not give it); "
                                "to_dict() gives them as one flat row.");
    for (const Quantity& q : kQuantities) {
        result.def_property_readonly(q.name, [member = q.member](const PyResult& r) { return (r.result.*member).value; });
        result.def_property_readonly((std::string(q.name) + "_error").c_str(),
                                     [member = q.member](const PyResult& r) { return (r.result.*member).error_bound; });
    }
    result.def_property_readonly("outcome", [](const PyResult& r) { return r.result.outcome; })
        .def_property_readonly("target_selection_ratio", [](const PyResult& r) { return r.result.target_selection_ratio; })
        .def_property_readonly("mass", [](const PyResult& r) { return r.result.mass; })
        .def_property_readonly("mass_checked", [](const PyResult& r) { return r.result.mass_checked; })
        .def_property_readonly("domain", [](const PyResult& r) { return r.result.domain; })
        .def_property_readonly("warnings", [](const PyResult& r) { return r.result.warnings; })
        .def_property_readonly("library_messages", [](const PyResult& r) { return r.result.library_messages; })
        .def_property_readonly("cpu_seconds", [](const PyResult& r) { return r.result.cpu_seconds; })
        .def_property_readonly("passes", [](const PyResult& r) { return passes_of(r.result); },
                               "One dict per integration pass.")
        .def_property_readonly("design", [](const PyResult& r) { return r.design; }, "The design evaluated.")
        .def("to_dict", [](const PyResult& r) { return row_of(r.result); })
        .def("report", [](const PyResult& r) { return traz::report(r.result); }, "The classic report.")
        .def("to_json", [](const PyResult& r) { return traz::to_json(r.result); },
             "The JSON object of traz --format json.")
        .def("__repr__", [](const PyResult& r) {
            std::ostringstream s;
            s.precision(6);
            s << "traz.Result(";
            bool first = true;
            for (const Quantity& q : kQuantities)
                if ((r.result.*q.member).present()) {
                    s << (first ? "" : ", ") << q.name << "=" << (r.result.*q.member).value;
                    first = false;
                }
            return s.str() + ")";
        });

    m.def(
        "evaluate",
        [](py::object design, const py::kwargs& kwargs) {
            PyDesign p;
            if (!design.is_none()) {
                if (!py::isinstance<PyDesign>(design)) type_error("evaluate: the first argument must be a traz.Design");
                p = design.cast<PyDesign>();
            }
            apply_fields(p, kwargs);
            return evaluate_design(p);
        },
        py::arg("design") = py::none(),
        ("Evaluates a design: a Design, keyword arguments (" + fields_doc +
         "), or a Design with some fields changed by keyword arguments. Returns a Result; raises "
         "traz.Error when the design is refused (its message says why) and TypeError for arguments of "
         "the wrong kind. Releases the GIL while it computes, so threads can evaluate designs side by side.")
            .c_str());
    m.def(
        "read_deck", [](const std::string& path) { return design_from_deck(read_file(path)); }, py::arg("path"),
        "The design of a deck file; raises traz.Error when it cannot be read.");
    m.def("sweep", &sweep_rows, py::arg("design"), py::arg("vary"), py::arg("mix_to") = std::vector<double>{},
          py::arg("jobs") = 0,
          "Evaluates the design over a grid: vary is one or two ranges \"NAME=FROM:TO:STEP\" or "
          "\"NAME=V1,V2,...\" (NAME: ns(k), napp, pg, efc, ef(i), cory(i), mix(k) with mix_to, the "
          "weights stage k moves to). Returns one dict per point in grid order (point, the varied "
          "values, then Result.to_dict()'s fields; a refused point has its outcome and diagnostic), "
          "which pandas.DataFrame takes as it is. Runs on jobs threads (0: every core) without the GIL.");

    py::class_<PySimulation> simulation(m, "Simulation",
                                        "What simulate() estimated. Each quantity is an attribute with its Monte "
                                        "Carlo standard error in <name>_se (NaN where it does not exist); to_dict() "
                                        "gives them as one flat row with the columns of traz simulate --format csv.");
    for (const SimulatedQuantity& q : kSimulated) {
        simulation.def_property_readonly(q.name, [member = q.member](const PySimulation& s) { return (s.simulation.*member).value; });
        simulation.def_property_readonly((std::string(q.name) + "_se").c_str(),
                                         [member = q.member](const PySimulation& s) { return (s.simulation.*member).se; });
    }
    simulation.def_property_readonly("replications", [](const PySimulation& s) { return s.simulation.replications; })
        .def_property_readonly("seed", [](const PySimulation& s) { return s.seed; })
        .def_property_readonly("mean_criterion_score_quantiles",
                               [](const PySimulation& s) {
                                   const double* q = s.simulation.criterion_quantiles;
                                   return std::vector<double>(q, q + 3);
                               },
                               "The 5, 50 and 95 % points of the mean criterion score of those selected.")
        .def_property_readonly("impact_ratio_quantiles",
                               [](const PySimulation& s) {
                                   const double* q = s.simulation.impact_ratio_quantiles;
                                   return std::vector<double>(q, q + 3);
                               },
                               "The 5, 50 and 95 % points of the realised impact ratio.")
        .def_property_readonly("undefined_ratio_replications", [](const PySimulation& s) { return s.simulation.undefined; })
        .def_property_readonly("z_undefined_replications", [](const PySimulation& s) { return s.simulation.z_undefined; })
        .def("to_dict", &simulation_row)
        .def("__repr__", [](const PySimulation& s) {
            std::ostringstream o;
            o.precision(6);
            o << "traz.Simulation(replications=" << s.simulation.replications << ", seed=" << s.seed
              << ", expected_criterion_score=" << s.simulation.expected_criterion_score.value
              << ", impact_ratio=" << s.simulation.impact_ratio.value
              << ", p_four_fifths=" << s.simulation.p_four_fifths.value << ")";
            return o.str();
        });

    py::class_<PyComparison>(m, "Comparison", "What compare() found: rows, verdict and results.")
        .def_readonly("rows", &PyComparison::rows,
                      "One dict per design (design A, B, ...: Result.to_dict()'s fields, difference_<name> and "
                      "difference_<name>_error to design A, dominated_by: the designs higher in both the expected "
                      "criterion score and the impact ratio beyond the bounds, e.g. \"A C\").")
        .def_readonly("verdict", &PyComparison::verdict, "One line: which designs are dominated, if any.")
        .def_readonly("results", &PyComparison::results, "The designs' Results, in order.")
        .def("__repr__", [](const PyComparison& c) { return "traz.Comparison(" + py::repr(py::str(c.verdict)).cast<std::string>() + ")"; });

    m.def("simulate", &simulate_design, py::arg("design"), py::kw_only(), py::arg("replications") = 100000,
          py::arg("seed") = 1, py::arg("jobs") = 0,
          "Simulates the design's selections: replications that each draw a pool and run the stages. Returns "
          "a Simulation (estimates with Monte Carlo standard errors, the probabilities that one selection is "
          "flagged, quantiles). Replication r draws from the stream of (seed, r): the results do not depend on "
          "jobs (threads; 0: every core). Raises traz.Error for a design the simulation cannot draw. Runs "
          "without the GIL.");
    m.def("pareto", &pareto_rows, py::arg("design"), py::kw_only(), py::arg("points") = 21,
          py::arg("negative_weights") = false, py::arg("jobs") = 0,
          "The Pareto front of the design's stage weights (its non-zero weights are searched): points designs "
          "from the highest expected criterion score (point 1) to the highest impact ratio (the last point). "
          "Returns one dict per point, which pandas.DataFrame takes as it is: point, Result.to_dict()'s fields "
          "(evaluated over the fitted domain), the free weights w(k,i) (stage k, predictor i), settled and "
          "status (\"settled\", or why not), and design (the point's Design, None when the search found none). "
          "The rows are those of traz pareto and do not depend on jobs (threads; 0: every core). Raises "
          "traz.Error for a design that cannot be searched. Runs without the GIL.");
    m.def("compare", &compare_designs, py::arg("designs"),
          "Evaluates the designs (named A, B, C, ... in order) and compares them as traz compare does. Returns a "
          "Comparison: rows (one dict per design, for pandas.DataFrame), verdict (which designs another beats "
          "in both the expected criterion score and the impact ratio) and results. A design that is refused is "
          "a row with its outcome and diagnostic. Runs without the GIL.");
}
