// C++: classes with virtual functions, a template and the standard library; with the argument
// "throw", also an exception thrown and caught in the program. The markers hold for a run
// without arguments and for a run with "throw".
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace shapes {

class Shape {
  public:
    virtual ~Shape() = default;
    virtual double area() const = 0;
    virtual std::string name() const = 0;
};

class Square : public Shape {
  public:
    explicit Square(double side) : side_(side) {}
    double area() const override {
        return side_ * side_; // hit
    }
    std::string name() const override {
        return "square"; // hit
    }

  private:
    double side_;
};

class Circle : public Shape {
  public:
    explicit Circle(double radius) : radius_(radius) {}
    double area() const override {
        return 3.14159 * radius_ * radius_; // miss
    }
    std::string name() const override {
        return "circle"; // miss
    }

  private:
    double radius_;
};

template <typename T> T largest(const std::vector<T>& values) {
    if (values.empty())
        throw std::invalid_argument("no values");
    T best = values.front(); // hit
    for (const T& value : values)
        if (value > best)
            best = value; // miss
    return best;
}

} // namespace shapes

int main(int argc, char** argv) {
    std::vector<std::unique_ptr<shapes::Shape>> all;
    all.push_back(std::make_unique<shapes::Square>(2.0)); // hit
    if (argc > 2)
        all.push_back(std::make_unique<shapes::Circle>(1.0)); // miss
    std::vector<double> areas;
    for (const auto& shape : all) {
        std::printf("%s %.1f\n", shape->name().c_str(), shape->area()); // hit
        areas.push_back(shape->area());
    }
    std::printf("largest %.1f\n", shapes::largest(areas)); // hit
    if (argc > 1 && std::string(argv[1]) == "throw") {
        try {
            shapes::largest(std::vector<int>());
            std::printf("not reached\n"); // miss
        } catch (const std::invalid_argument& error) {
            std::printf("caught: %s\n", error.what());
        }
    }
    return 0;
}
