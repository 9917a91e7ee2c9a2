// The Python module quorvel: the NonStationary class and the conversion of series arguments.
#include "../core/non_stationary.hpp"

#include <pybind11/eigen.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// A series of doubles crossing the Python boundary, shown as "List[float]" in signatures.
struct PySeries {
    quorvel::Series values;
};

}  // namespace

namespace pybind11 {
namespace detail {

template <>
struct type_caster<PySeries> {
    PYBIND11_TYPE_CASTER(PySeries, const_name("List[float]"));

    bool load(handle src, bool convert) {
        if (loadFloat64Buffer(src)) return true;
        // Anything else converts element by element, with the library's own rules and errors.
        // A sequence whose items cannot even be read (a multi-dimensional memoryview) does not
        // convert either, rather than leaking its own error.
        list_caster<quorvel::Series, double> elements;
        try {
            if (!elements.load(src, convert)) return false;
        } catch (error_already_set& e) {
            if (e.matches(PyExc_MemoryError) || e.matches(PyExc_KeyboardInterrupt)) throw;
            return false;
        }
        value.values = std::move(static_cast<quorvel::Series&>(elements));
        return true;
    }

    static handle cast(const PySeries& src, return_value_policy, handle) {
        list result(src.values.size());
        for (std::size_t i = 0; i < src.values.size(); ++i)
            PyList_SET_ITEM(result.ptr(), static_cast<ssize_t>(i),
                            PyFloat_FromDouble(src.values[i]));
        return result.release();
    }

private:
    // One-dimensional buffers of native doubles (a float64 NumPy array, array('d'), a
    // memoryview) are copied directly: one memcpy when contiguous, a strided loop otherwise.
    bool loadFloat64Buffer(handle src) {
        if (!PyObject_CheckBuffer(src.ptr()) || isinstance<bytes>(src)) return false;
        Py_buffer view;
        if (PyObject_GetBuffer(src.ptr(), &view, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
            PyErr_Clear();
            return false;
        }
        const std::string format = view.format ? view.format : "B";
        const bool nativeDouble =
            view.itemsize == sizeof(double) && (format == "d" || format == "@d" || format == "=d");
        const bool accepted = nativeDouble && view.ndim == 1;
        if (accepted) {
            const auto n = static_cast<std::size_t>(view.shape[0]);
            value.values.resize(n);
            const char* base = static_cast<const char*>(view.buf);
            if (view.strides[0] == static_cast<Py_ssize_t>(sizeof(double))) {
                if (n != 0) std::memcpy(value.values.data(), base, n * sizeof(double));
            } else {
                for (std::size_t i = 0; i < n; ++i)
                    std::memcpy(&value.values[i],
                                base + static_cast<Py_ssize_t>(i) * view.strides[0],
                                sizeof(double));
            }
        }
        PyBuffer_Release(&view);
        return accepted;
    }
};

}  // namespace detail
}  // namespace pybind11

PYBIND11_MODULE(quorvel, m) {
    m.doc() = R"pbdoc(
        Pybind11 example plugin
        -----------------------

        .. currentmodule:: quorvel

        .. autosummary::
           :toctree: _generate

           setup
           nsFunc
    )pbdoc";

    using quorvel::NonStationary;
    py::class_<NonStationary>(m, "NonStationary")
        .def(py::init<>())
        .def("setup", &NonStationary::setup)
        .def("setupDS", &NonStationary::setupDS)
        .def("nsFunc", [](NonStationary& self, const std::string& name,
                          const PySeries& series) { return self.nsFunc(name, series.values); })
        .def("getH", &NonStationary::getH)
        .def("getH0", &NonStationary::getH0)
        .def("getA", &NonStationary::getA)
        .def_property(
            "data", [](const NonStationary& self) { return PySeries{self.data}; },
            [](NonStationary& self, PySeries series) { self.data = std::move(series.values); })
        .def("nsFuncRange", &NonStationary::nsFuncRange);

    m.attr("__version__") = "0.0.1";
}
