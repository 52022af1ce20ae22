// The Python module `traz`: designs from keyword arguments or deck files, evaluations whose
// results are small objects (attributes and to_dict()), sweeps as rows for pandas, and the
// library's refusals as the exception traz.Error. The computation runs without the GIL.
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
        if (weights.size() != retained.size()) {
            traz::Diagnostic d;
            d.statement = 1;
            d.message = "design: " + std::to_string(weights.size()) + " stage(s) of weights but " +
                        std::to_string(retained.size()) + " retained count(s)";
            throw traz::Error(d);
        }
        traz::Design d = fields;
        for (std::size_t j = 0; j < weights.size(); ++j) d.stages.push_back({weights[j], retained[j]});
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
    traz::SweepSpec spec;
    if (py::isinstance<py::str>(vary))
        spec.vary.push_back(vary.cast<std::string>());
    else
        for (py::handle v : vary) spec.vary.push_back(py::str(v));
    spec.mix_to = mix_to;
    spec.jobs = jobs;
    const traz::Design base = p.design();
    const std::vector<std::string> names = traz::sweep_names(base, spec);
    std::vector<traz::SweepPoint> points;
    {
        py::gil_scoped_release unlocked;
        points = traz::sweep(base, spec);
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

} // namespace

PYBIND11_MODULE(traz, m) {
    m.doc() = "TRAZ: expected outcomes of multi-stage personnel selection, with error bounds.\n\n"
              "evaluate() computes a design given as keyword arguments or as a Design (read_deck);\n"
              "sweep() varies one or two of its quantities over a grid.";
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
}
