// placeholder, replaced by the implementation
namespace pelko::numeric {}
